// Runs an engine in a view of a given pixel size and owns both.
#ifndef ENGINE_CLIENT_FLUTTER_VIEW_CONTROLLER_H_
#define ENGINE_CLIENT_FLUTTER_VIEW_CONTROLLER_H_

#include <memory>
#include <optional>

#include "engine_client/flutter_engine.h"
#include "engine_client/flutter_project.h"
#include "engine_client/flutter_view.h"
#include "engine_client/flutter_windows.h"
#include "win/windows_api.h"

namespace flutter {

// Creates the engine for a project and starts it in a view. After a failed
// creation it holds the engine but no controller handle and no view, and
// calls nothing in the engine library (no view is asked for a null engine).
class FlutterViewController {
 public:
  // Creates the engine and a view of `width` x `height` physical pixels.
  FlutterViewController(int width, int height, const FlutterProject& project);
  // Destroys the view and the engine instance, then gives up the engine
  // object, so the engine is gone before the messenger's handlers.
  virtual ~FlutterViewController();

  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;

  // Returns the engine, shared with the caller.
  std::shared_ptr<FlutterEngine> GetEngine() const { return engine_; }

  // Returns the view, or null when creation failed.
  FlutterView* GetView() const { return view_.get(); }

  // Asks the engine to draw a frame even if nothing changed.
  void ForceRedraw();

  // Offers a top-level window message to the engine. Returns the result when
  // the engine consumed it, nothing when the caller must handle it.
  std::optional<LRESULT> HandleTopLevelWindowProc(HWND hwnd, UINT message,
                                                  WPARAM wparam, LPARAM lparam);

 private:
  FlutterDesktopViewControllerRef controller_ = nullptr;
  std::shared_ptr<FlutterEngine> engine_;
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter

#endif  // ENGINE_CLIENT_FLUTTER_VIEW_CONTROLLER_H_
