// Runs a tunnel operation on a background thread and hands its outcome back
// to the window thread as a posted window task.
#ifndef APP_TUNNEL_CONTROL_CHANNEL_OPERATION_RUNNER_H_
#define APP_TUNNEL_CONTROL_CHANNEL_OPERATION_RUNNER_H_

#include <atomic>
#include <functional>
#include <memory>

#include "app/tunnel_control/channel/window_task.h"
#include "app/tunnel_control/common/op_error.h"
#include "codec/encodable_value.h"
#include "codec/method_result.h"
#include "win/scoped_override.h"
#include "win/windows_api.h"

namespace tunnel_control {

// Set while a "connect" or "disconnect" runs; keeps at most one operation
// running. The channel handler sets it, the runner clears it.
extern std::atomic<bool> operation_in_progress;

// The work of one "connect" or "disconnect": returns true on success, or
// false after filling the record it is given (never null).
using TunnelOperation = std::function<bool(OpError* error)>;

// What the background thread owns while it runs one operation.
struct OperationJob {
  HWND window;  // not owned; the reply is posted here
  std::shared_ptr<flutter::MethodResult<flutter::EncodableValue>> result;
  TunnelOperation operation;
};

// Starts `operation` on a new detached thread. When it returns, clears
// operation_in_progress and posts the reply to `window`. If no thread can be
// started, clears the guard and answers "thread_failed" at once. Called on
// the window thread with the guard already set.
void RunOperationAsync(
    HWND window,
    std::shared_ptr<flutter::MethodResult<flutter::EncodableValue>> result,
    TunnelOperation operation);

// Starts the background thread for `job`; raises std::system_error or
// std::bad_alloc when the thread cannot be started.
using ThreadStarter = void (*)(OperationJob job);

// Replaces the thread starter for the lifetime of this object. Tests only;
// not for use while RunOperationAsync runs.
class ScopedThreadStarter : public win::ScopedOverride<ThreadStarter> {
 public:
  explicit ScopedThreadStarter(ThreadStarter replacement);
};

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_CHANNEL_OPERATION_RUNNER_H_
