// The engine's view and its native child window.
#ifndef ENGINE_CLIENT_FLUTTER_VIEW_H_
#define ENGINE_CLIENT_FLUTTER_VIEW_H_

#include "engine_client/flutter_windows.h"
#include "win/windows_api.h"

namespace flutter {

// Wraps a view handle that the view controller's engine owns.
class FlutterView {
 public:
  explicit FlutterView(FlutterDesktopViewRef view) : view_(view) {}
  virtual ~FlutterView() = default;

  FlutterView(const FlutterView&) = delete;
  FlutterView& operator=(const FlutterView&) = delete;

  // Returns the child window that shows the engine's content.
  HWND GetHWND() const;

 private:
  FlutterDesktopViewRef view_;
};

}  // namespace flutter

#endif  // ENGINE_CLIENT_FLUTTER_VIEW_H_
