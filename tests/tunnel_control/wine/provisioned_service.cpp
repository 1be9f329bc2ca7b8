#include "tests/tunnel_control/wine/provisioned_service.h"

#include <optional>
#include <vector>

#include "app/tunnel_control/client/elevated_install.h"
#include "app/tunnel_control/client/tunnel_config.h"
#include "app/tunnel_control/common/tunnel_names.h"
#include "app/tunnel_control/common/tunnel_paths.h"
#include "app/tunnel_control/installer/service_definition.h"
#include "win/scoped_resource.h"

namespace tunnel_control::testing {
namespace {

// A display name the installer never uses, so a test can tell whether the
// installer has rewritten the service since provisioning.
constexpr wchar_t kProvisionedDisplayName[] = L"Varn VPN Tunnel (provisioned)";

std::string Failure(const char* what, DWORD error) {
  return std::string(what) + " failed with error " + std::to_string(error);
}

// Waits until the service leaves the start-pending state or the time is up,
// and returns the state it is in then (0 when it cannot be read).
DWORD WaitWhileStarting(SC_HANDLE service, ULONGLONG timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    const std::optional<SERVICE_STATUS_PROCESS> status = QueryStatus(service);
    const DWORD state = status ? status->dwCurrentState : 0;
    if (state != SERVICE_START_PENDING || ::GetTickCount64() >= deadline) {
      return state;
    }
    ::Sleep(100);
  }
}

}  // namespace

std::string ProvisionTunnelService() {
  ServiceDefinition definition =
      TunnelServiceDefinition(BinFolder() + L"\\varn_vpn.exe", ConfigFilePath(),
                              CurrentUserSidString());
  definition.display_name = kProvisionedDisplayName;
  // An empty list clears dependencies a test installer added.
  definition.dependencies.assign(2, L'\0');
  return ProvisionService(definition).failure;
}

std::string WarmUpTunnelService(const std::string& valid_config) {
  tunnel_control::OpError error;
  if (!tunnel_control::WriteTunnelConfig(valid_config, &error)) {
    return error.message;
  }
  ScopedScHandle manager = OpenManager();
  if (!manager) return Failure("OpenSCManagerW", ::GetLastError());
  ScopedScHandle service(
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
  tunnel_control::DeleteTunnelConfig();
  return result;
}

std::wstring ServiceDisplayName() {
  ScopedScHandle manager = OpenManager();
  if (!manager) return {};
  ScopedScHandle service(
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
  ScopedScHandle manager = OpenManager();
  if (!manager) return 0;
  ScopedScHandle service(
      ::OpenServiceW(manager.Get(), kTunnelServiceName, SERVICE_QUERY_STATUS));
  if (!service) return 0;
  const std::optional<SERVICE_STATUS_PROCESS> status =
      QueryStatus(service.Get());
  return status ? status->dwProcessId : 0;
}

void WaitForServiceProcessesToEnd() {
  win::ScopedFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (::_wcsicmp(entry.szExeFile, L"varn_vpn.exe") != 0) continue;
    ScopedProcess process(
        ::OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (process) ::WaitForSingleObject(process.Get(), 10'000);
  }
}

}  // namespace tunnel_control::testing
