#include "app/tunnel_control/client/elevated_install.h"

#include <string>

#include "app/tunnel_control/common/error_texts.h"
#include "app/tunnel_control/common/tunnel_facts.h"
#include "app/tunnel_control/common/tunnel_paths.h"
#include "app/tunnel_control/os/platform.h"
#include "app/tunnel_control/os/scoped_handles.h"

namespace tunnel_control {
namespace {

// The elevated copy gets this long; a copy still running is left alone.
constexpr DWORD kInstallWaitMs = 120'000;

#if defined(_WIN64)
static_assert(sizeof(SHELLEXECUTEINFOW) == 112);
#endif

}  // namespace

bool RunElevatedInstall(OpError* error) {
  const std::wstring sid = CurrentUserSidString();
  const std::wstring executable = ExecutablePath();
  if (sid.empty() || executable.empty()) {
    SetOpError(error, kInstallUnresolved);
    return false;
  }

  // The SID has no spaces, so it goes unquoted as the only argument.
  const std::wstring parameters = InstallArguments(sid);

  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NO_CONSOLE;
  info.lpVerb = L"runas";
  info.lpFile = executable.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_HIDE;
  if (!Os().ShellExecuteExW(&info)) {
    const DWORD launch_error = ::GetLastError();
    // ERROR_CANCELLED is what the user's "no" at the elevation prompt gives.
    SetOpError(error,
               launch_error == ERROR_CANCELLED ? kElevationDeclined
                                               : kInstallLaunchFailed,
               launch_error);
    return false;
  }

  // Stays 1 when no process handle came back or its exit code is unreadable.
  DWORD exit_code = 1;
  if (info.hProcess != nullptr) {
    ScopedKernelHandle process(info.hProcess);
    Os().WaitForSingleObject(process.Get(), kInstallWaitMs);
    Os().GetExitCodeProcess(process.Get(), &exit_code);
  }
  if (exit_code == kInstallSucceeded) return true;

  SetOpError(error, kInstallHelperFailed, exit_code);
  return false;
}

}  // namespace tunnel_control
