// Test support for the real service manager under Wine: puts the tunnel
// service and its data directory in place the way the installer leaves them,
// and reads back what the tunnel code wrote.
#ifndef TESTS_TUNNEL_WINE_PROVISIONED_SERVICE_H_
#define TESTS_TUNNEL_WINE_PROVISIONED_SERVICE_H_

#include <optional>
#include <string>

#include "win/windows_api.h"

namespace tunnel_control::testing {

// The folder of the running test program, where the build puts the
// executable and the stand-in libraries too.
std::wstring BinaryDirectory();

// Creates the data directory and creates or reconfigures the tunnel service
// to run "<bin>\varn_vpn.exe /service <config file>". Returns an empty string
// on success, else what failed.
std::string ProvisionTunnelService();

// Starts and stops the service once, retrying the first start: the first
// service start in a fresh prefix can time out. Returns an empty string on
// success, else what failed.
std::string WarmUpTunnelService(const std::string& valid_config);

// Deletes the tunnel service, if there is one.
void RemoveTunnelService();

// Returns the whole content of `path`, or nothing when it cannot be opened.
std::optional<std::string> ReadFileBytes(const std::wstring& path);

// Returns the service's display name, or an empty string.
std::wstring ServiceDisplayName();

// Returns the id of the service's process, or 0 when it has none.
DWORD ServiceProcessId();

// Waits up to 10 s for every varn_vpn.exe process to end.
void WaitForServiceProcessesToEnd();

}  // namespace tunnel_control::testing

#endif  // TESTS_TUNNEL_WINE_PROVISIONED_SERVICE_H_
