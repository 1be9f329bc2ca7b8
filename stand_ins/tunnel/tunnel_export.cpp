// The library's one export, called by the service host with the
// configuration file path; returns when the service has stopped.
#include "stand_ins/tunnel/tunnel_service.h"

extern "C" int WireGuardTunnelService(const wchar_t* config_path) {
  if (config_path == nullptr) return 0;
  try {
    tunnel_stand_in::TunnelService service(config_path);
    return service.Run() ? 1 : 0;
  } catch (...) {
    // No exception may cross into the host, which is not C++-aware.
    return 0;
  }
}
