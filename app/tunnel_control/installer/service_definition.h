// The tunnel service as the installer defines it, as a value: what the
// service manager is told when the service is created or repaired.
#ifndef APP_TUNNEL_CONTROL_INSTALLER_SERVICE_DEFINITION_H_
#define APP_TUNNEL_CONTROL_INSTALLER_SERVICE_DEFINITION_H_

#include <string>

#include "win/windows_api.h"

namespace tunnel_control {

inline constexpr wchar_t kServiceDisplayName[] = L"Varn VPN Tunnel";
inline constexpr wchar_t kServiceDescription[] =
    L"Varn VPN WireGuard tunnel (managed by the Varn VPN app).";
// The double-NUL-terminated dependency list: the literal adds the last NUL.
inline constexpr wchar_t kServiceDependencies[] = L"Nsi\0TcpIp\0";

// Everything the installer sets on the service. The account is not among
// it: a new service runs as LocalSystem, and a repair keeps the account.
struct ServiceDefinition {
  std::wstring name;
  std::wstring display_name;
  std::wstring description;
  DWORD service_type = 0;
  DWORD start_type = 0;
  DWORD error_control = 0;
  std::wstring binary_path;
  // The dependency list with both closing NULs.
  std::wstring dependencies;
  DWORD sid_type = 0;
  std::wstring sddl;

  bool operator==(const ServiceDefinition&) const = default;
};

// Returns the service's SDDL: SYSTEM and Administrators manage it, every
// interactive user may read its state, and `user_sid` may also start and
// stop it.
std::wstring ServiceSddl(const std::wstring& user_sid);

// The tunnel service that runs `executable` on `config_file` and that
// `user_sid` may start and stop: started on demand, in a process of its
// own, with an unrestricted service SID.
ServiceDefinition TunnelServiceDefinition(const std::wstring& executable,
                                          const std::wstring& config_file,
                                          const std::wstring& user_sid);

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_INSTALLER_SERVICE_DEFINITION_H_
