// The tunnel service under Wine's service manager, put in place the way the
// installer leaves it, for the tests of connect, disconnect and the
// elevated launch.
#ifndef TESTS_TUNNEL_CONTROL_WINE_PROVISIONED_SERVICE_H_
#define TESTS_TUNNEL_CONTROL_WINE_PROVISIONED_SERVICE_H_

#include <string>

#include "tests/tunnel_control/wine/wine_test_support.h"

namespace tunnel_control::testing {

// Provisions the installer's tunnel service for "<bin>\varn_vpn.exe" and the
// current user, under a display name of its own and without dependencies.
// Returns an empty string on success, else what failed.
std::string ProvisionTunnelService();

// Starts and stops the service once, retrying the first start: the first
// service start in a fresh prefix can time out. Returns an empty string on
// success, else what failed.
std::string WarmUpTunnelService(const std::string& valid_config);

// Returns the service's display name, or an empty string.
std::wstring ServiceDisplayName();

// Returns the id of the service's process, or 0 when it has none.
DWORD ServiceProcessId();

// Waits up to 10 s for every varn_vpn.exe process to end.
void WaitForServiceProcessesToEnd();

}  // namespace tunnel_control::testing

#endif  // TESTS_TUNNEL_CONTROL_WINE_PROVISIONED_SERVICE_H_
