// The names every process of the tunnel agrees on: the app that connects,
// the installer that creates the service and the data directory, and the
// service host that the service manager runs.
#ifndef APP_TUNNEL_CONTROL_COMMON_TUNNEL_NAMES_H_
#define APP_TUNNEL_CONTROL_COMMON_TUNNEL_NAMES_H_

namespace tunnel_control {

// The tunnel's name: the data directory's name, the configuration file's
// base name and the suffix of the service name.
inline constexpr wchar_t kTunnelName[] = L"VarnVPN";

// The configuration file's name in the data directory.
inline constexpr wchar_t kConfigFileName[] = L"VarnVPN.conf";

// The Windows service that runs the tunnel.
inline constexpr wchar_t kTunnelServiceName[] = L"WireGuardTunnel$VarnVPN";

// The tunnel library's log in the data directory. SYSTEM writes it, so the
// user may read it but neither replace nor delete it: a link put in its
// place would steer SYSTEM's writes into another file.
inline constexpr wchar_t kTunnelLogName[] = L"log.bin";

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_COMMON_TUNNEL_NAMES_H_
