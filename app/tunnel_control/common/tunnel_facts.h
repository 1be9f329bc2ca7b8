// What one copy of the executable tells another across a process boundary:
// the switches that select a run mode, the service's command line, and what
// each one-shot mode's exit code means. The app launches the installer, the
// installer writes the service's command line, the service manager runs the
// host: each side reads these values from here. Header only, so that test
// programs which link none of the tunnel libraries can use it too.
#ifndef APP_TUNNEL_CONTROL_COMMON_TUNNEL_FACTS_H_
#define APP_TUNNEL_CONTROL_COMMON_TUNNEL_FACTS_H_

#include <string>
#include <string_view>

namespace tunnel_control {

// The first argument of each one-shot mode; anything else is the window.
inline constexpr std::wstring_view kServiceSwitch = L"/service";
inline constexpr std::wstring_view kInstallSwitch = L"/tunnel-install";
inline constexpr std::wstring_view kUninstallSwitch = L"/tunnel-uninstall";

// The arguments of the elevated installer for the user `sid`. A SID has no
// spaces, so it goes unquoted.
inline std::wstring InstallArguments(const std::wstring& sid) {
  return std::wstring(kInstallSwitch) + L" " + sid;
}

// The service's command line: `executable` in host mode for `config_file`,
// both quoted.
inline std::wstring ServiceCommandLine(const std::wstring& executable,
                                       const std::wstring& config_file) {
  return L"\"" + executable + L"\" " + std::wstring(kServiceSwitch) + L" \"" +
         config_file + L"\"";
}

// Exit codes of "/tunnel-install".
enum InstallExitCode : int {
  kInstallSucceeded = 0,
  kInstallBadSid = 10,
  kInstallNoPath = 11,
  kInstallDirectoryFailed = 12,
  kInstallDirectoryDaclFailed = 13,
  kInstallManagerUnavailable = 14,
  kInstallCreateFailed = 15,
  kInstallOpenExistingFailed = 16,
  kInstallReconfigureFailed = 17,
  kInstallSidTypeFailed = 18,
  kInstallSddlFailed = 19,
  kInstallServiceDaclFailed = 20,
  kInstallLocationUnprotected = 21,
  // The previous user's service was deleted, but someone holds it open.
  kInstallPreviousServiceMarked = 22,
};

// Exit codes of "/tunnel-uninstall".
enum UninstallExitCode : int {
  kUninstallSucceeded = 0,
  kUninstallManagerUnavailable = 30,
  kUninstallOpenFailed = 31,
  kUninstallDeleteFailed = 32,
};

// Exit codes of "/service", which the service manager's log shows.
enum ServiceExitCode : int {
  kServiceSucceeded = 0,
  kServiceNoPath = 1,          // no configuration or executable path
  kServiceLibraryMissing = 2,  // tunnel.dll beside the executable won't load
  kServiceExportMissing = 3,   // it has no service entry
  kServiceTunnelFailed = 4,    // the entry reported a failure
  kServiceConfigRefused = 5,   // no plain configuration file at its path
  kServiceLogRefused = 6,      // log.bin cannot be made SYSTEM's
};

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_COMMON_TUNNEL_FACTS_H_
