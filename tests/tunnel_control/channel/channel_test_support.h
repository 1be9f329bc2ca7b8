// Test doubles for the tunnel channel: a window that runs window tasks, a
// method result that records its answer, and test services in place of the
// service manager.
#ifndef TESTS_TUNNEL_CONTROL_CHANNEL_CHANNEL_TEST_SUPPORT_H_
#define TESTS_TUNNEL_CONTROL_CHANNEL_CHANNEL_TEST_SUPPORT_H_

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/tunnel_control/channel/operation_runner.h"
#include "app/tunnel_control/channel/tunnel_channel.h"
#include "app/tunnel_control/common/op_error.h"
#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/method_result.h"
#include "win/windows_api.h"

namespace tunnel_control::testing {

using flutter::EncodableValue;
using Result = flutter::MethodResult<EncodableValue>;

// A message-only window whose procedure runs and frees window tasks the way
// the application window does.
class TaskWindow {
 public:
  TaskWindow();
  ~TaskWindow();
  TaskWindow(const TaskWindow&) = delete;
  TaskWindow& operator=(const TaskWindow&) = delete;

  HWND hwnd() const { return hwnd_; }
  void Destroy();

 private:
  HWND hwnd_ = nullptr;
};

// Dispatches this thread's messages until `done` holds or `timeout_ms`
// passes; returns whether `done` held.
bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms = 10000);

// What one call's result received.
struct Reply {
  enum class Kind { kNone, kSuccess, kError, kNotImplemented };
  Kind kind = Kind::kNone;
  int answers = 0;
  std::optional<EncodableValue> value;
  std::string code;
  std::string message;
  bool has_details = false;
  DWORD answer_thread = 0;
  int sequence = 0;  // order of the first answer among all results
  std::atomic<bool> destroyed{false};
};

// Returns a result that records into `reply`.
std::unique_ptr<Result> RecordInto(std::shared_ptr<Reply> reply);

// Makes a call with `name` and `arguments`.
flutter::MethodCall<EncodableValue> Call(const std::string& name,
                                         EncodableValue arguments = {});

// Returns the "connect" argument map {"config": text}.
EncodableValue ConfigArgument(EncodableValue text);

// Makes this thread's allocation number `count` from now on (0: the next)
// throw std::bad_alloc, once; -1 turns the failure off.
void FailAllocationAfter(int count);

// A latch the test opens to let a blocked operation return.
class Gate {
 public:
  void Open();
  void Wait();

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

// Installs test services for its lifetime and counts what they do. The
// operations run on the runner's threads.
class FakeServices {
 public:
  FakeServices();
  ~FakeServices();

  // What "connect" and "disconnect" do; both succeed by default.
  std::function<bool(const std::string& config, OpError* error)> connect;
  std::function<bool(OpError* error)> disconnect;
  std::string stage = "disconnected";

  std::atomic<int> started{0};
  std::atomic<int> running{0};
  std::atomic<int> most_running{0};
  std::string last_config;  // written by the operation thread

 private:
  static bool Connect(const std::string& config, OpError* error);
  static bool Disconnect(OpError* error);
  static std::string QueryStage();
  void Enter();
  void Leave();

  tunnel_control::TunnelServices table_;
  std::optional<tunnel_control::ScopedTunnelServices> installed_;
};

}  // namespace tunnel_control::testing

#endif  // TESTS_TUNNEL_CONTROL_CHANNEL_CHANNEL_TEST_SUPPORT_H_
