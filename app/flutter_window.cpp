#include "app/flutter_window.h"

#include <iostream>
#include <utility>

#include "app/engine_plugins.h"
#include "app/tunnel_control/channel/tunnel_channel.h"
#include "app/tunnel_control/channel/window_task.h"
#include "engine_client/current_exception.h"

FlutterWindow::FlutterWindow(const flutter::FlutterProject& project)
    : project_(project) {}

FlutterWindow::~FlutterWindow() {
  // The top-level window still exists here, and tearing the engine down
  // sends it messages; they must not be offered to the controller that is
  // going.
  std::unique_ptr<flutter::FlutterViewController> controller =
      std::move(controller_);
  controller.reset();
}

bool FlutterWindow::OnWindowCreated() {
  if (!Win32Window::OnWindowCreated()) return false;

  const RECT frame = GetClientBounds();
  controller_ = std::make_unique<flutter::FlutterViewController>(
      frame.right - frame.left, frame.bottom - frame.top, project_);
  if (!controller_->GetEngine() || controller_->GetView() == nullptr) {
    return false;
  }

  // Plug-ins and the channel are in place before the UI can draw or call.
  RegisterEnginePlugins(controller_->GetEngine().get());
  tunnel_control::RegisterTunnelChannel(
      &controller_->GetEngine()->GetMessenger(), GetHandle());
  SetContentWindow(controller_->GetView()->GetHWND());

  // Stay hidden until there is something to show, so the user never sees
  // an empty frame.
  controller_->GetEngine()->SetNextFrameCallback([this]() { Show(); });
  // The engine may have drawn its first frame already; this makes sure a
  // next frame comes.
  controller_->ForceRedraw();
  return true;
}

void FlutterWindow::OnWindowDestroying() {
  if (controller_) {
    // Null the member first: tearing the engine down can send messages that
    // come back through OnWindowMessage.
    std::unique_ptr<flutter::FlutterViewController> controller =
        std::move(controller_);
    controller.reset();
  }
  Win32Window::OnWindowDestroying();
}

LRESULT FlutterWindow::OnWindowMessage(HWND window, UINT message, WPARAM wparam,
                                       LPARAM lparam) noexcept {
  if (message == tunnel_control::kWindowTaskMessage) {
    // Anything but a task we posted to this window is left alone: the
    // number is in the shared range, and a foreign lParam is not ours to
    // call or free.
    if (std::unique_ptr<tunnel_control::WindowTask> task =
            tunnel_control::TakeWindowTask(window, lparam)) {
      try {
        (*task)();
      } catch (...) {
        // An answer that cannot be encoded (out of memory) is lost, but the
        // window stays up.
        std::cerr << "Error: A window task threw: "
                  << flutter::DescribeCurrentException() << ". Dropped."
                  << std::endl;
      }
    }
    return 0;
  }

  if (controller_) {
    std::optional<LRESULT> result =
        controller_->HandleTopLevelWindowProc(window, message, wparam, lparam);
    if (result) return *result;
  }

  if (message == WM_FONTCHANGE && controller_) {
    controller_->GetEngine()->ReloadSystemFonts();
  }

  return Win32Window::OnWindowMessage(window, message, wparam, lparam);
}
