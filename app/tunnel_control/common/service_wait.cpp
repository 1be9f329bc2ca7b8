#include "app/tunnel_control/common/service_wait.h"

#include <algorithm>

#include "app/tunnel_control/os/platform.h"

namespace tunnel_control {
namespace {

constexpr DWORD kPollIntervalMs = 250;

}  // namespace

DWORD QueryServiceState(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!Os().QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                 reinterpret_cast<BYTE*>(&status),
                                 sizeof(status), &needed)) {
    return 0;
  }
  return status.dwCurrentState;
}

DWORD WaitForServiceState(SC_HANDLE service, std::initializer_list<DWORD> until,
                          ULONGLONG timeout_ms) {
  const ULONGLONG deadline = Os().GetTickCount64() + timeout_ms;
  for (;;) {
    const DWORD state = QueryServiceState(service);
    if (std::find(until.begin(), until.end(), state) != until.end() ||
        Os().GetTickCount64() >= deadline) {
      return state;
    }
    Os().Sleep(kPollIntervalMs);
  }
}

bool SendStop(SC_HANDLE service) {
  SERVICE_STATUS status{};
  return Os().ControlService(service, SERVICE_CONTROL_STOP, &status) != FALSE;
}

DWORD StopAndWait(SC_HANDLE service) {
  SendStop(service);
  return WaitForServiceState(service, {SERVICE_STOPPED}, kStopWaitMs);
}

DWORD RetryWhileStoppedServiceEnds(SC_HANDLE service,
                                   const std::function<DWORD()>& attempt) {
  const ULONGLONG deadline = Os().GetTickCount64() + kStopWaitMs;
  for (;;) {
    const DWORD result = attempt();
    if (result != ERROR_SHARING_VIOLATION ||
        QueryServiceState(service) != SERVICE_STOPPED ||
        Os().GetTickCount64() >= deadline) {
      return result;
    }
    Os().Sleep(kPollIntervalMs);
  }
}

}  // namespace tunnel_control
