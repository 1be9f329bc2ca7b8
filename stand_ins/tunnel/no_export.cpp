// A tunnel.dll that loads but lacks the tunnel export, so the service host's
// lookup fails.
extern "C" int StandInWithoutTunnelService() { return 0; }
