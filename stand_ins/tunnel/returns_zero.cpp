// A tunnel.dll whose export fails at once without touching the service
// manager, so the service host's failure path runs outside a service too.
extern "C" int WireGuardTunnelService(const wchar_t* /*config_path*/) {
  return 0;
}
