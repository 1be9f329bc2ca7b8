// The bodies of the one-shot "/tunnel-install" and "/tunnel-uninstall" run
// modes: the protected data directory and the tunnel service.
#ifndef APP_TUNNEL_CONTROL_INSTALLER_SERVICE_INSTALLER_H_
#define APP_TUNNEL_CONTROL_INSTALLER_SERVICE_INSTALLER_H_

#include <optional>
#include <string>
#include <vector>

#include "app/tunnel_control/common/tunnel_facts.h"
#include "app/tunnel_control/os/file_objects.h"

namespace tunnel_control {

// True when `dacl` (a service's, null when absent) lets anyone but SYSTEM,
// the Administrators and `user_sid` more than read the service's state: a
// previous user's start and stop rights, for example.
bool GrantsOthersControl(const std::optional<std::vector<AccessEntry>>& dacl,
                         const std::wstring& user_sid);

// Creates or repairs the tunnel service for `user_sid`, stopped, and
// prepares the data directory for that user. A service that grants another
// user control is deleted and created anew, so that user's open handles lose
// their power. Refuses, before anything changes, when the executable does
// not live where only trusted principals can change it.
// Returns an InstallExitCode.
int RunInstallMode(const std::wstring& user_sid);

// RunInstallMode for the executable at `executable` instead of the running
// one, with the same checks and exit codes: the package's grant runs from a
// library that msiexec loaded, not from the installed executable.
int RunInstallModeFor(const std::wstring& user_sid,
                      const std::wstring& executable);

// Deletes the configuration file (from the real data directory only), stops
// the tunnel service, deletes the file again (a running tunnel may have held
// it open) and deletes the service.
// Returns an UninstallExitCode.
int RunUninstallMode();

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_INSTALLER_SERVICE_INSTALLER_H_
