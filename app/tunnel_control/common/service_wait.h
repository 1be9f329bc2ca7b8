// Reading the tunnel service's state, and the one wait for a state that
// connect, disconnect, install and uninstall share.
#ifndef APP_TUNNEL_CONTROL_COMMON_SERVICE_WAIT_H_
#define APP_TUNNEL_CONTROL_COMMON_SERVICE_WAIT_H_

#include <functional>
#include <initializer_list>

#include "win/windows_api.h"

namespace tunnel_control {

// How long a stop of the service is waited for; each caller decides what a
// service still running after it means.
inline constexpr ULONGLONG kStopWaitMs = 10'000;

// Returns the current state of the open `service`, or 0 when the status
// query fails.
DWORD QueryServiceState(SC_HANDLE service);

// Sends the stop control to the open `service`; returns whether the service
// manager accepted it.
bool SendStop(SC_HANDLE service);

// Sends the stop control, whatever its answer (only the wait decides), and
// waits up to kStopWaitMs for the stopped state. Returns the last state read.
DWORD StopAndWait(SC_HANDLE service);

// Reads the state of `service` at once and then every 250 ms until it is
// one of `until` or `timeout_ms` have passed since the call. Returns the
// last state read (0 when it could not be read).
DWORD WaitForServiceState(SC_HANDLE service, std::initializer_list<DWORD> until,
                          ULONGLONG timeout_ms);

// The service manager reads a service stopped before its process has ended,
// and the tunnel's host lets go of the configuration only as it ends. Runs
// `attempt` (0 on success, else its Windows error) and repeats it every
// 250 ms while it fails with ERROR_SHARING_VIOLATION and `service` reads
// stopped, for up to kStopWaitMs. Returns the last result: a service still
// stopping fails at once.
DWORD RetryWhileStoppedServiceEnds(SC_HANDLE service,
                                   const std::function<DWORD()>& attempt);

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_COMMON_SERVICE_WAIT_H_
