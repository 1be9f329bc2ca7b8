#include "tests/tunnel_wine/provisioned_service.h"

#include <vector>

#include "app/tunnel_control/client/tunnel_config.h"
#include "app/tunnel_control/common/tunnel_names.h"
#include "app/tunnel_control/common/tunnel_paths.h"
#include "win/scoped_resource.h"

namespace tunnel_control::testing {
namespace {

// A display name the installer never uses, so a test can tell whether the
// installer has rewritten the service since provisioning.
constexpr wchar_t kProvisionedDisplayName[] = L"Varn VPN Tunnel (provisioned)";

std::string Failure(const char* what, DWORD error) {
  return std::string(what) + " failed with error " + std::to_string(error);
}

win::ScopedServiceHandle OpenManager(DWORD access) {
  return win::ScopedServiceHandle(::OpenSCManagerW(nullptr, nullptr, access));
}

DWORD StateOf(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &needed)) {
    return 0;
  }
  return status.dwCurrentState;
}

bool WaitForState(SC_HANDLE service, DWORD state, ULONGLONG timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  while (StateOf(service) != state) {
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(100);
  }
  return true;
}

// Waits until the service leaves the start-pending state or the time is up,
// and returns the state it is in then.
DWORD WaitWhileStarting(SC_HANDLE service, ULONGLONG timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  DWORD state = StateOf(service);
  while (state == SERVICE_START_PENDING && ::GetTickCount64() < deadline) {
    ::Sleep(100);
    state = StateOf(service);
  }
  return state;
}

}  // namespace

std::wstring BinaryDirectory() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring text(path, length);
  return text.substr(0, text.rfind(L'\\'));
}

std::string ProvisionTunnelService() {
  const std::wstring directory = DataDirectoryPath();
  if (directory.empty()) return "no data directory path";
  if (!::CreateDirectoryW(directory.c_str(), nullptr) &&
      ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return Failure("CreateDirectoryW", ::GetLastError());
  }

  const std::wstring binary_path = L"\"" + BinaryDirectory() +
                                   L"\\varn_vpn.exe\" /service \"" +
                                   ConfigFilePath() + L"\"";
  win::ScopedServiceHandle manager = OpenManager(SC_MANAGER_ALL_ACCESS);
  if (!manager) return Failure("OpenSCManagerW", ::GetLastError());
  win::ScopedServiceHandle service(::CreateServiceW(
      manager.Get(), kTunnelServiceName, kProvisionedDisplayName,
      SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
      SERVICE_ERROR_NORMAL, binary_path.c_str(), nullptr, nullptr, nullptr,
      nullptr, nullptr));
  if (service) return {};
  if (::GetLastError() != ERROR_SERVICE_EXISTS) {
    return Failure("CreateServiceW", ::GetLastError());
  }
  service.Reset(
      ::OpenServiceW(manager.Get(), kTunnelServiceName, SERVICE_ALL_ACCESS));
  if (!service) return Failure("OpenServiceW", ::GetLastError());
  // An empty double-NUL list clears dependencies a test installer added.
  if (!::ChangeServiceConfigW(service.Get(), SERVICE_WIN32_OWN_PROCESS,
                              SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                              binary_path.c_str(), nullptr, nullptr, L"\0",
                              nullptr, nullptr, kProvisionedDisplayName)) {
    return Failure("ChangeServiceConfigW", ::GetLastError());
  }
  return {};
}

std::string WarmUpTunnelService(const std::string& valid_config) {
  OpError error;
  if (!WriteTunnelConfig(valid_config, &error)) return error.message;
  win::ScopedServiceHandle manager = OpenManager(SC_MANAGER_CONNECT);
  if (!manager) return Failure("OpenSCManagerW", ::GetLastError());
  win::ScopedServiceHandle service(
      ::OpenServiceW(manager.Get(), kTunnelServiceName,
                     SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP));
  if (!service) return Failure("OpenServiceW", ::GetLastError());

  std::string result = "the warm-up start never reached the running state";
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!::StartServiceW(service.Get(), 0, nullptr)) {
      result = Failure("StartServiceW", ::GetLastError());
    }
    // A start that timed out may still come up, so wait either way.
    if (WaitWhileStarting(service.Get(), 30'000) == SERVICE_RUNNING) {
      result.clear();
      break;
    }
  }
  SERVICE_STATUS status{};
  ::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
  WaitForState(service.Get(), SERVICE_STOPPED, 30'000);
  DeleteTunnelConfig();
  return result;
}

void RemoveTunnelService() {
  win::ScopedServiceHandle manager = OpenManager(SC_MANAGER_CONNECT);
  if (!manager) return;
  win::ScopedServiceHandle service(
      ::OpenServiceW(manager.Get(), kTunnelServiceName,
                     DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) return;
  SERVICE_STATUS status{};
  ::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
  WaitForState(service.Get(), SERVICE_STOPPED, 10'000);
  ::DeleteService(service.Get());
}

std::optional<std::string> ReadFileBytes(const std::wstring& path) {
  win::ScopedFileHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string content;
  char chunk[4096];
  DWORD read = 0;
  while (::ReadFile(file.Get(), chunk, sizeof(chunk), &read, nullptr) &&
         read > 0) {
    content.append(chunk, read);
  }
  return content;
}

std::wstring ServiceDisplayName() {
  win::ScopedServiceHandle manager = OpenManager(SC_MANAGER_CONNECT);
  if (!manager) return {};
  win::ScopedServiceHandle service(
      ::OpenServiceW(manager.Get(), kTunnelServiceName, SERVICE_QUERY_CONFIG));
  if (!service) return {};
  DWORD needed = 0;
  ::QueryServiceConfigW(service.Get(), nullptr, 0, &needed);
  if (needed == 0) return {};
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!::QueryServiceConfigW(service.Get(), config, needed, &needed) ||
      config->lpDisplayName == nullptr) {
    return {};
  }
  return config->lpDisplayName;
}

DWORD ServiceProcessId() {
  win::ScopedServiceHandle manager = OpenManager(SC_MANAGER_CONNECT);
  if (!manager) return 0;
  win::ScopedServiceHandle service(
      ::OpenServiceW(manager.Get(), kTunnelServiceName, SERVICE_QUERY_STATUS));
  if (!service) return 0;
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!::QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &needed)) {
    return 0;
  }
  return status.dwProcessId;
}

void WaitForServiceProcessesToEnd() {
  win::ScopedFileHandle snapshot(
      ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (::_wcsicmp(entry.szExeFile, L"varn_vpn.exe") != 0) continue;
    win::ScopedHandle process(
        ::OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (process) ::WaitForSingleObject(process.Get(), 10'000);
  }
}

}  // namespace tunnel_control::testing
