// A view of the stand-in engine: a real child window that runs everything
// the engine does on the window thread (message delivery, frames, the
// panel), and owns the engine it was given.
#ifndef STAND_INS_ENGINE_VIEW_CONTROLLER_H_
#define STAND_INS_ENGINE_VIEW_CONTROLLER_H_

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "engine_client/flutter_windows.h"
#include "stand_ins/engine/engine.h"
#include "stand_ins/engine/scoped_window.h"
#include "win/windows_api.h"

namespace stand_in {

class Panel;
class ScenarioDriver;
class UiCaller;

class ViewController {
 public:
  // Creates the view window (width x height pixels) on the calling thread,
  // which becomes the window thread, takes over `engine`, schedules the
  // first frame and starts the scenario driver when one is configured.
  // Returns null when the window cannot be created.
  static std::unique_ptr<ViewController> Create(int width, int height,
                                                std::unique_ptr<Engine> engine);

  // Stops the driver, shuts the engine down, destroys the windows. Window
  // thread only.
  ~ViewController();
  ViewController(const ViewController&) = delete;
  ViewController& operator=(const ViewController&) = delete;

  static ViewController* FromRef(FlutterDesktopViewControllerRef ref) {
    return reinterpret_cast<ViewController*>(ref);
  }
  FlutterDesktopViewControllerRef ToRef() {
    return reinterpret_cast<FlutterDesktopViewControllerRef>(this);
  }
  // The view handle is the controller itself; the host only passes it back.
  static ViewController* FromViewRef(FlutterDesktopViewRef ref) {
    return reinterpret_cast<ViewController*>(ref);
  }
  FlutterDesktopViewRef ToViewRef() {
    return reinterpret_cast<FlutterDesktopViewRef>(this);
  }

  HWND view_window() const { return view_.Get(); }
  Engine* engine() { return engine_.get(); }
  int frames() const { return frames_.load(); }

  // Draws one frame soon, on the window thread.
  void ScheduleFrame();

  // Runs `run` on the window thread. If the view goes before it ran,
  // `on_drop` (when given) runs instead while the view shuts down.
  void PostTask(std::function<void()> run, std::function<void()> on_drop = {});

  // Offered every message of the host's top-level window first.
  bool HandleTopLevelWindowProc(HWND window, UINT message, WPARAM wparam,
                                LPARAM lparam, LRESULT* result);

  // The top-level window that holds the view, or null while the view still
  // sits in its parking window. Any thread.
  HWND TopLevelWindow() const;

  // Returns whether the top-level window is visible, and records the first
  // time it is. Any thread.
  bool NoteIfVisible();

  // Largest lateness seen by the responsiveness probe since the last reset,
  // and the number of probe messages handled.
  struct ProbeStats {
    int64_t max_late_ms = 0;
    int64_t samples = 0;
  };
  ProbeStats probe_stats() const;
  void ResetProbeStats();

  // The message the responsiveness probe posts to the view window.
  static constexpr UINT kProbeMessage = WM_APP + 0x152;

 private:
  struct Task {
    std::function<void()> run;
    std::function<void()> on_drop;
  };

  ViewController() = default;

  static LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wparam,
                                   LPARAM lparam);
  LRESULT OnMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void RunTasks();
  void DrawFrame();
  void StartScenario();

  std::unique_ptr<Engine> engine_;
  ScopedWindow parking_;
  ScopedWindow view_;
  std::unique_ptr<UiCaller> caller_;
  std::unique_ptr<Panel> panel_;
  std::unique_ptr<ScenarioDriver> driver_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

  std::mutex tasks_mutex_;
  std::deque<Task> tasks_;

  std::atomic<int> frames_{0};
  std::atomic<bool> visible_recorded_{false};
  std::atomic<int64_t> max_late_us_{0};
  std::atomic<int64_t> probe_samples_{0};
};

// Returns the number of frames drawn by every view of the process.
int TotalFrameCount();

}  // namespace stand_in

#endif  // STAND_INS_ENGINE_VIEW_CONTROLLER_H_
