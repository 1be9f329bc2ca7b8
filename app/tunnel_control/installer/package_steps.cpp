#include "app/tunnel_control/installer/package_steps.h"

#include "app/tunnel_control/common/service_wait.h"
#include "app/tunnel_control/common/tunnel_names.h"
#include "app/tunnel_control/installer/data_directory.h"
#include "app/tunnel_control/installer/service_installer.h"
#include "app/tunnel_control/os/file_objects.h"
#include "app/tunnel_control/os/platform.h"
#include "app/tunnel_control/os/scoped_handles.h"

namespace tunnel_control {
namespace {

constexpr wchar_t kExecutableName[] = L"varn_vpn.exe";
// What WTSGetActiveConsoleSessionId answers while no session is attached.
constexpr DWORD kNoConsoleSession = 0xFFFFFFFF;
// The token-user header plus the largest SID.
constexpr DWORD kTokenUserBufferSize =
    sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE;

std::wstring Number(DWORD value) { return std::to_wstring(value); }

StepResult Failed(std::wstring log) { return {false, std::move(log)}; }

}  // namespace

StepResult ConsoleUserSid() {
  const DWORD session = Os().WTSGetActiveConsoleSessionId();
  if (session == kNoConsoleSession) {
    return Failed(L"TUNNELUSER=*: no session is attached to the console");
  }
  ScopedKernelHandle token;
  if (!Os().WTSQueryUserToken(session, token.Put())) {
    const DWORD error = ::GetLastError();
    return Failed(
        L"TUNNELUSER=*: nobody is signed in at the console "
        L"(session " +
        Number(session) + L", error " + Number(error) + L")");
  }
  alignas(TOKEN_USER) BYTE buffer[kTokenUserBufferSize] = {};
  DWORD returned = 0;
  if (!Os().GetTokenInformation(token.Get(), TokenUser, buffer, sizeof(buffer),
                                &returned)) {
    const DWORD error = ::GetLastError();
    return Failed(
        L"TUNNELUSER=*: the console user's token names no user "
        L"(error " +
        Number(error) + L")");
  }
  const std::wstring sid =
      SidString(reinterpret_cast<const TOKEN_USER*>(buffer)->User.Sid);
  if (sid.empty()) return Failed(L"TUNNELUSER=*: unreadable user SID");
  return {true, sid};
}

StepResult GrantTunnel(const std::wstring& action_data) {
  const size_t bar = action_data.find_last_of(L'|');
  if (bar == std::wstring::npos) {
    return Failed(L"TUNNELUSER: no install folder in the action data");
  }
  const std::wstring requested = action_data.substr(0, bar);
  std::wstring folder = action_data.substr(bar + 1);
  if (folder.empty()) return Failed(L"TUNNELUSER: no install folder");
  if (folder.back() != L'\\') folder += L'\\';

  std::wstring sid = requested;
  if (requested == kConsoleUser) {
    StepResult console = ConsoleUserSid();
    if (!console.succeeded) return console;
    sid = console.log;
  }
  const int code = RunInstallModeFor(sid, folder + kExecutableName);
  if (code != kInstallSucceeded) {
    return Failed(L"TUNNELUSER: the installer mode refused \"" + sid +
                  L"\" with exit code " + std::to_wstring(code));
  }
  return {true, L"TUNNELUSER: the tunnel is granted to " + sid};
}

TunnelState QueryTunnelState() {
  ScopedServiceHandle manager(
      Os().OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return TunnelState::kUnknown;
  ScopedServiceHandle service(Os().OpenServiceW(
      manager.Get(), kTunnelServiceName, SERVICE_QUERY_STATUS));
  if (!service) {
    return ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST
               ? TunnelState::kAbsent
               : TunnelState::kUnknown;
  }
  switch (QueryServiceState(service.Get())) {
    case 0:
      return TunnelState::kUnknown;
    case SERVICE_STOPPED:
    case SERVICE_STOP_PENDING:
      return TunnelState::kStopped;
    default:
      // Starting, running, paused or about to be: the user wants it up.
      return TunnelState::kRunning;
  }
}

StepResult StartTunnel() {
  ScopedServiceHandle manager(
      Os().OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    return Failed(L"tunnel restart: no service manager (error " +
                  Number(::GetLastError()) + L")");
  }
  ScopedServiceHandle service(Os().OpenServiceW(
      manager.Get(), kTunnelServiceName, SERVICE_START | SERVICE_QUERY_STATUS));
  if (!service) {
    return Failed(L"tunnel restart: the service cannot be opened (error " +
                  Number(::GetLastError()) + L")");
  }
  if (!Os().StartServiceW(service.Get(), 0, nullptr) &&
      ::GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
    return Failed(L"tunnel restart: the service did not start (error " +
                  Number(::GetLastError()) + L")");
  }
  return {true,
          L"tunnel restart: the tunnel that ran before the upgrade "
          L"is started again"};
}

std::vector<std::wstring> RemoveTunnelData() {
  std::vector<std::wstring> lines;
  for (const RemovedFolder& folder : RemoveDataDirectories()) {
    std::wstring line = L"REMOVEDATA: " + folder.path;
    switch (folder.outcome) {
      case FolderRemoval::kRemoved:
        line += L" removed";
        break;
      case FolderRemoval::kNotOurs:
        line += L" kept: owned by " +
                (folder.owner.empty() ? L"an unknown owner" : folder.owner) +
                L", not by SYSTEM or the Administrators";
        break;
      case FolderRemoval::kNotFolder:
        line += L" kept: a link or a file, not a folder";
        break;
      case FolderRemoval::kBusy:
        line +=
            L" kept: it could not be held for removal (open in "
            L"another program, moved, or closed to SYSTEM)";
        break;
      case FolderRemoval::kIncomplete:
        line += L" kept: some of what it holds could not be removed";
        break;
    }
    lines.push_back(line);
  }
  if (lines.empty()) lines.push_back(L"REMOVEDATA: no tunnel data to remove");
  return lines;
}

}  // namespace tunnel_control
