// The application's top-level window: hosts the engine's view, registers
// the plug-ins and the tunnel channel, and runs the window tasks that tunnel
// operations post back to the window thread.
#ifndef APP_FLUTTER_WINDOW_H_
#define APP_FLUTTER_WINDOW_H_

#include <memory>

#include "app/win32_window.h"
#include "engine_client/flutter_project.h"
#include "engine_client/flutter_view_controller.h"
#include "win/windows_api.h"

class FlutterWindow : public Win32Window {
 public:
  // Keeps a copy of `project` for the engine started at creation.
  explicit FlutterWindow(const flutter::FlutterProject& project);
  ~FlutterWindow() override;

 protected:
  LRESULT OnWindowMessage(HWND window, UINT message, WPARAM wparam,
                          LPARAM lparam) noexcept override;
  bool OnWindowCreated() override;
  void OnWindowDestroying() override;

 private:
  flutter::FlutterProject project_;
  std::unique_ptr<flutter::FlutterViewController> controller_;
};

#endif  // APP_FLUTTER_WINDOW_H_
