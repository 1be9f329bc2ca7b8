#include "tests/tunnel_control/channel/channel_test_support.h"

#include <cstdlib>
#include <new>
#include <utility>

#include "app/tunnel_control/channel/operation_runner.h"

namespace {

// Allocations left on this thread before one fails; -1: none fails.
thread_local int allocations_before_failure = -1;

}  // namespace

// The test program's allocator, so a test can run a path out of memory.
void* operator new(std::size_t size) {
  if (allocations_before_failure >= 0 && allocations_before_failure-- == 0) {
    throw std::bad_alloc();
  }
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
// GCC takes the free() in a replaced operator delete for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace tunnel_control::testing {
namespace {

constexpr wchar_t kClassName[] = L"TunnelChannelTestWindow";

LRESULT CALLBACK TaskWindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                LPARAM lparam) {
  if (message == tunnel_control::kWindowTaskMessage) {
    if (auto task = tunnel_control::TakeWindowTask(hwnd, lparam)) (*task)();
    return 0;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

int answer_count = 0;  // window thread only

class RecordingResult : public Result {
 public:
  explicit RecordingResult(std::shared_ptr<Reply> reply)
      : reply_(std::move(reply)) {}
  ~RecordingResult() override { reply_->destroyed.store(true); }

 protected:
  void OnSuccess(const EncodableValue* value) override {
    Record(Reply::Kind::kSuccess);
    if (value != nullptr) reply_->value = *value;
  }
  void OnError(const std::string& code, const std::string& message,
               const EncodableValue* details) override {
    Record(Reply::Kind::kError);
    reply_->code = code;
    reply_->message = message;
    reply_->has_details = details != nullptr;
  }
  void OnNotImplemented() override { Record(Reply::Kind::kNotImplemented); }

 private:
  void Record(Reply::Kind kind) {
    reply_->kind = kind;
    if (reply_->answers++ == 0) reply_->sequence = ++answer_count;
    reply_->answer_thread = GetCurrentThreadId();
  }

  std::shared_ptr<Reply> reply_;
};

FakeServices* current_services = nullptr;

}  // namespace

TaskWindow::TaskWindow() {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = TaskWindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = kClassName;
  RegisterClassW(&window_class);  // fails harmlessly once registered
  hwnd_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                          nullptr, window_class.hInstance, nullptr);
}

TaskWindow::~TaskWindow() { Destroy(); }

void TaskWindow::Destroy() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  hwnd_ = nullptr;
}

void FailAllocationAfter(int count) { allocations_before_failure = count; }

bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (!done()) {
    if (GetTickCount64() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return true;
}

std::unique_ptr<Result> RecordInto(std::shared_ptr<Reply> reply) {
  return std::make_unique<RecordingResult>(std::move(reply));
}

flutter::MethodCall<EncodableValue> Call(const std::string& name,
                                         EncodableValue arguments) {
  return flutter::MethodCall<EncodableValue>(
      name, std::make_unique<EncodableValue>(std::move(arguments)));
}

EncodableValue ConfigArgument(EncodableValue text) {
  return EncodableValue(
      flutter::ValueMap{{EncodableValue(std::string("config")), text}});
}

void Gate::Open() {
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = true;
  opened_.notify_all();
}

void Gate::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  opened_.wait(lock, [this] { return open_; });
}

FakeServices::FakeServices()
    : connect([](const std::string&, OpError*) { return true; }),
      disconnect([](OpError*) { return true; }),
      table_{Connect, Disconnect, QueryStage} {
  current_services = this;
  installed_.emplace(table_);
  tunnel_control::operation_in_progress.store(false);
}

FakeServices::~FakeServices() {
  installed_.reset();
  current_services = nullptr;
}

void FakeServices::Enter() {
  ++started;
  const int now = ++running;
  int most = most_running.load();
  while (now > most && !most_running.compare_exchange_weak(most, now)) {
  }
}

void FakeServices::Leave() { --running; }

bool FakeServices::Connect(const std::string& config, OpError* error) {
  FakeServices& self = *current_services;
  self.Enter();
  self.last_config = config;
  const bool succeeded = self.connect(config, error);
  self.Leave();
  return succeeded;
}

bool FakeServices::Disconnect(OpError* error) {
  FakeServices& self = *current_services;
  self.Enter();
  const bool succeeded = self.disconnect(error);
  self.Leave();
  return succeeded;
}

std::string FakeServices::QueryStage() { return current_services->stage; }

}  // namespace tunnel_control::testing
