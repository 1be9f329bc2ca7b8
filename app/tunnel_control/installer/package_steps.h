// The steps the Windows Installer package takes as SYSTEM through its
// custom-action library: granting the tunnel to the user an administrator
// names, keeping a running tunnel running across an upgrade, and removing
// the tunnel's data on request. Each answers with the line the install log
// shows.
#ifndef APP_TUNNEL_CONTROL_INSTALLER_PACKAGE_STEPS_H_
#define APP_TUNNEL_CONTROL_INSTALLER_PACKAGE_STEPS_H_

#include <string>
#include <vector>

namespace tunnel_control {

// TUNNELUSER's value that stands for the user signed in at the console.
inline constexpr wchar_t kConsoleUser[] = L"*";

struct StepResult {
  bool succeeded = false;
  std::wstring log;
};

// The SID of the user signed in at the console, from that session's token
// (which only SYSTEM may ask for), as the log of a success. Fails when
// nobody is signed in there.
StepResult ConsoleUserSid();

// Grants the tunnel as "/tunnel-install SID" does, for the executable in
// the install folder. `action_data` is "<TUNNELUSER>|<INSTALLDIR>": '|'
// can be in neither a SID nor a path, so the last one splits them. A
// TUNNELUSER of "*" names the console's user. Fails with the installer
// mode's exit code in the log line.
StepResult GrantTunnel(const std::wstring& action_data);

// The tunnel service's state as the package records it before an upgrade.
enum class TunnelState { kAbsent, kStopped, kRunning, kUnknown };
TunnelState QueryTunnelState();

// Starts the tunnel service again after an upgrade put the new files in
// place.
StepResult StartTunnel();

// Runs RemoveDataDirectories and describes each folder in a log line.
std::vector<std::wstring> RemoveTunnelData();

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_INSTALLER_PACKAGE_STEPS_H_
