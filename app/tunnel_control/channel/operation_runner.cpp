#include "app/tunnel_control/channel/operation_runner.h"

#include <exception>
#include <memory>
#include <system_error>
#include <utility>

#include "app/tunnel_control/common/error_texts.h"
#include "win/scoped_resource.h"

namespace tunnel_control {

std::atomic<bool> operation_in_progress{false};

namespace {

// Runs the job's operation, releases the guard and posts the reply task.
void RunOperationJob(OperationJob job) {
  auto error = std::make_shared<OpError>();
  const bool succeeded = job.operation(error.get());

  // Released before the post: the next operation may start while this reply
  // is still on its way.
  operation_in_progress.store(false);

  auto task =
      std::make_unique<WindowTask>([result = job.result, succeeded, error]() {
        if (succeeded) {
          result->Success();
        } else {
          result->Error(error->code, error->message);
        }
      });
  // If the window is gone the task is freed at once and the call stays
  // unanswered.
  PostWindowTask(job.window, std::move(task));
}

// The body of an operation thread, which owns its job. Nothing may unwind
// out of a thread the system started: if memory runs out the reply is lost,
// but the guard is released so later operations still run.
DWORD WINAPI OperationThread(void* parameter) {
  std::unique_ptr<OperationJob> job(static_cast<OperationJob*>(parameter));
  try {
    RunOperationJob(std::move(*job));
  } catch (...) {
    operation_in_progress.store(false);
  }
  return 0;
}

// Runs `job` on a new thread that nobody joins. A Win32 thread, not
// std::thread: under load, a std::thread of the MinGW runtime detached at
// once sometimes ended before running its function (seen under Wine, exit
// code 128), which left the guard set and every later call "busy".
void StartDetachedThread(OperationJob job) {
  auto owned = std::make_unique<OperationJob>(std::move(job));
  const win::ScopedHandle thread(
      ::CreateThread(nullptr, 0, OperationThread, owned.get(), 0, nullptr));
  if (!thread) {
    throw std::system_error(static_cast<int>(::GetLastError()),
                            std::system_category(), "CreateThread");
  }
  owned.release();
}

std::atomic<ThreadStarter> thread_starter{StartDetachedThread};

}  // namespace

void RunOperationAsync(
    HWND window,
    std::shared_ptr<flutter::MethodResult<flutter::EncodableValue>> result,
    TunnelOperation operation) {
  try {
    thread_starter.load()(OperationJob{window, result, std::move(operation)});
  } catch (const std::exception&) {
    // Not only std::system_error: the thread's state is allocated, so
    // std::bad_alloc can come too. Without this the guard would stay set and
    // every later operation would be refused as "busy".
    operation_in_progress.store(false);
    result->Error(std::string(kThreadFailed.code),
                  std::string(kThreadFailed.message));
  }
}

ScopedThreadStarter::ScopedThreadStarter(ThreadStarter replacement)
    : ScopedOverride(thread_starter, replacement) {}

}  // namespace tunnel_control
