#include "stand_ins/engine/view_controller.h"

#include <string>
#include <utility>
#include <vector>

#include "stand_ins/engine/file_paths.h"
#include "stand_ins/engine/panel.h"
#include "stand_ins/engine/responsiveness_probe.h"
#include "stand_ins/engine/scenario.h"
#include "stand_ins/engine/scenario_driver.h"
#include "stand_ins/engine/top_level_policy.h"
#include "stand_ins/engine/transcript.h"
#include "stand_ins/engine/ui_caller.h"
#include "stand_ins/engine/wide_text.h"

namespace stand_in {
namespace {

constexpr wchar_t kViewClass[] = L"VarnStandInView";
// Wakes the window thread to run queued tasks.
constexpr UINT kTaskMessage = WM_APP + 0x151;

std::atomic<int> g_frames{0};

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

// Registers the view class once per process; it stays registered until the
// library is unloaded, since views come and go.
bool RegisterViewClass(WNDPROC procedure) {
  static const bool registered = [procedure] {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = ThisModule();
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = kViewClass;
    return RegisterClassExW(&window_class) != 0 ||
           GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

}  // namespace

int TotalFrameCount() { return g_frames.load(); }

std::unique_ptr<ViewController> ViewController::Create(
    int width, int height, std::unique_ptr<Engine> engine) {
  if (!engine || !RegisterViewClass(&ViewController::ViewProc)) return nullptr;
  std::unique_ptr<ViewController> controller(new ViewController());
  controller->engine_ = std::move(engine);
  // A child window needs a parent from the start; it waits in a hidden
  // window of its own until the host moves it into its top-level window.
  controller->parking_.Reset(
      CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, width,
                      height, nullptr, nullptr, ThisModule(), nullptr));
  if (controller->parking_.Get() == nullptr) return nullptr;
  controller->view_.Reset(CreateWindowExW(
      0, kViewClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, width,
      height, controller->parking_.Get(), nullptr, ThisModule(),
      controller.get()));
  if (controller->view_.Get() == nullptr) return nullptr;
  Transcript::Get().Write(
      JsonLine("view_created").Int("width", width).Int("height", height));

  Messenger* messenger = controller->engine_->messenger();
  messenger->AttachView(controller.get());
  controller->caller_ = std::make_unique<UiCaller>(messenger, controller.get());
  controller->panel_ = std::make_unique<Panel>(controller->view_.Get(),
                                               controller->caller_.get());
  ViewController* self = controller.get();
  controller->caller_->SetObserver(
      [self](const std::string& method, const flutter::EncodableValue& args,
             const std::string& source, const CallOutcome& outcome) {
        // Panel state belongs to the window thread.
        if (method == "stage" && outcome.kind == "success") {
          if (const auto* stage = outcome.value.GetIf<std::string>()) {
            std::string text = *stage;
            self->PostTask([self, text] { self->panel_->SetStage(text); });
          }
        }
        if (method == "connect" && source != "panel") {
          const auto* map = args.GetIf<flutter::ValueMap>();
          if (map == nullptr) return;
          auto it = map->find(flutter::EncodableValue("config"));
          if (it == map->end()) return;
          if (const auto* config = it->second.GetIf<std::string>()) {
            std::string text = *config;
            self->PostTask([self, text] { self->panel_->SetConfig(text); });
          }
        }
      });
  controller->ScheduleFrame();
  controller->StartScenario();
  return controller;
}

ViewController::~ViewController() {
  *alive_ = false;
  Transcript::Get().Write(JsonLine("view_destroyed"));
  // The engine goes first: from here on no answer reaches the UI side, so
  // nothing calls into the driver or the caller while they are torn down.
  if (engine_) engine_->Shutdown();
  driver_.reset();
  panel_.reset();
  view_.Reset();
  parking_.Reset();
  std::deque<Task> left;
  {
    std::lock_guard<std::mutex> lock(tasks_mutex_);
    left.swap(tasks_);
  }
  for (Task& task : left) {
    if (task.on_drop) task.on_drop();
  }
  caller_.reset();
  engine_.reset();
}

void ViewController::StartScenario() {
  const std::wstring path = PathFromEnvironment(L"VARN_STANDIN_SCENARIO");
  if (path.empty()) {
    // A person is driving: show the stage as soon as the UI is up.
    Panel* panel = panel_.get();
    PostTask([panel] { panel->RequestStage(); });
    return;
  }
  std::string text;
  std::vector<ScenarioStep> steps;
  std::string error;
  if (!ReadWholeFile(path, &text)) {
    error = "cannot read " + WideToUtf8(path);
  } else if (!ParseScenario(text, &steps, &error)) {
    steps.clear();
  }
  if (!error.empty()) {
    Transcript::Get().Write(
        JsonLine("fault").Str("kind", "scenario").Str("detail", error));
    return;
  }
  driver_ = std::make_unique<ScenarioDriver>(std::move(steps), WideToUtf8(path),
                                             caller_.get(), this);
  driver_->Start();
}

void ViewController::ScheduleFrame() {
  PostTask([this] { DrawFrame(); });
}

void ViewController::PostTask(std::function<void()> run,
                              std::function<void()> on_drop) {
  {
    std::lock_guard<std::mutex> lock(tasks_mutex_);
    tasks_.push_back(Task{std::move(run), std::move(on_drop)});
  }
  PostMessageW(view_.Get(), kTaskMessage, 0, 0);
}

void ViewController::RunTasks() {
  // A task may end up destroying this controller (a handler that closes the
  // window), so the loop re-checks that it still exists after each one.
  std::shared_ptr<bool> alive = alive_;
  for (;;) {
    Task task;
    {
      std::lock_guard<std::mutex> lock(tasks_mutex_);
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task.run();
    if (!*alive) return;
  }
}

void ViewController::DrawFrame() {
  const int frame = ++frames_;
  ++g_frames;
  InvalidateRect(view_.Get(), nullptr, TRUE);
  Transcript::Get().Write(JsonLine("frame").Int("n", frame));
  FlutterDesktopOnNextFrameCallback callback = nullptr;
  void* user_data = nullptr;
  if (engine_->TakeNextFrameCallback(&callback, &user_data)) {
    Transcript::Get().Write(
        JsonLine("next_frame_callback").Int("frame", frame));
    std::shared_ptr<bool> alive = alive_;
    callback(user_data);
    if (!*alive) return;
  }
  NoteIfVisible();
}

bool ViewController::HandleTopLevelWindowProc(HWND window, UINT message,
                                              WPARAM wparam, LPARAM lparam,
                                              LRESULT* result) {
  if (message == WM_WINDOWPOSCHANGED) {
    const auto* position = reinterpret_cast<const WINDOWPOS*>(lparam);
    if (position != nullptr && (position->flags & SWP_SHOWWINDOW) != 0 &&
        window == TopLevelWindow()) {
      NoteIfVisible();
    }
  }
  (void)wparam;
  return ConsumeTopLevelMessage(message, result);
}

HWND ViewController::TopLevelWindow() const {
  HWND root = GetAncestor(view_.Get(), GA_ROOT);
  return root == parking_.Get() ? nullptr : root;
}

bool ViewController::NoteIfVisible() {
  HWND top = TopLevelWindow();
  if (top == nullptr || !IsWindowVisible(top)) return false;
  if (!visible_recorded_.exchange(true)) {
    Transcript::Get().Write(JsonLine("window_visible"));
  }
  return true;
}

ViewController::ProbeStats ViewController::probe_stats() const {
  return ProbeStats{max_late_us_.load() / 1000, probe_samples_.load()};
}

void ViewController::ResetProbeStats() {
  max_late_us_ = 0;
  probe_samples_ = 0;
}

LRESULT CALLBACK ViewController::ViewProc(HWND window, UINT message,
                                          WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<ViewController*>(
      GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  return self->OnMessage(window, message, wparam, lparam);
}

LRESULT ViewController::OnMessage(HWND window, UINT message, WPARAM wparam,
                                  LPARAM lparam) {
  switch (message) {
    case kTaskMessage:
      RunTasks();
      return 0;
    case kProbeMessage: {
      const auto late_us = static_cast<int64_t>(
          ResponsivenessProbe::LatenessMs(static_cast<int64_t>(lparam)) *
          1000.0);
      int64_t seen = max_late_us_.load();
      while (late_us > seen &&
             !max_late_us_.compare_exchange_weak(seen, late_us)) {
      }
      ++probe_samples_;
      return 0;
    }
    case WM_SIZE:
      if (panel_) panel_->Layout(LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_COMMAND:
      if (panel_ && panel_->OnCommand(wparam)) return 0;
      break;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      if (panel_) panel_->Paint(dc);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      // Late messages find no controller once the window is going.
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace stand_in
