// The body of the "/service" run mode: hands the configuration file to the
// tunnel library, which runs the whole service.
#ifndef APP_TUNNEL_CONTROL_SERVICE_HOST_SERVICE_HOST_H_
#define APP_TUNNEL_CONTROL_SERVICE_HOST_SERVICE_HOST_H_

#include <string>

namespace tunnel_control {

// Exit codes of RunServiceMode.
enum ServiceExitCode : int {
  kServiceSucceeded = 0,
  kServiceNoPath = 1,
  kServiceLibraryMissing = 2,
  kServiceExportMissing = 3,
  kServiceTunnelFailed = 4,
  kServiceConfigRefused = 5,
};

// Returns the path of tunnel.dll beside `executable`, or an empty string
// when the path has no backslash.
std::wstring TunnelLibraryPath(const std::wstring& executable);

// True when the folder of `config_path` is a real directory at that path
// (no junction or mount point on the way) and the file, if it exists, is a
// plain file with a single name: SYSTEM reads it.
bool IsPlainConfigPath(const std::wstring& config_path);

// Loads tunnel.dll from the executable's folder and runs its service entry
// with `config_path` (the default configuration file when empty), after
// refusing a configuration path that is not plain. Returns a
// ServiceExitCode once the library has stopped the service.
int RunServiceMode(const std::wstring& config_path);

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_SERVICE_HOST_SERVICE_HOST_H_
