// An in-process double of the engine library and the four plug-in
// registration functions for the window tests: the test program defines the
// flat functions itself, so it binds to these instead of any DLL, and every
// call the window makes is visible here.
#ifndef TESTS_ENGINE_FAKES_FAKE_WINDOW_ENGINE_H_
#define TESTS_ENGINE_FAKES_FAKE_WINDOW_ENGINE_H_

#include <string>
#include <vector>

#include "engine_client/flutter_windows.h"
#include "win/windows_api.h"

namespace flutter::testing {

struct FakeWindowEngine {
  // DPI reported for every monitor; 0 asks the system.
  UINT dpi = 0;
  // Engine creation, or view controller creation, returns null when set.
  bool refuse_engine = false;
  bool refuse_view_controller = false;
  // HandleTopLevelWindowProc consumes this message (0: none) with `result`.
  UINT consumed_message = 0;
  LRESULT consumed_result = 0;

  // Calls in order, e.g. "engine_create", "registrar AppLinksPluginCApi",
  // "plugin AppLinksPluginCApi 1", "set_callback varn/wintunnel",
  // "next_frame_callback", "force_redraw", "reload_fonts",
  // "controller_destroyed"; a call given a null handle is recorded as
  // "null handle".
  std::vector<std::string> calls;
  // Messages offered through HandleTopLevelWindowProc.
  std::vector<UINT> offered_messages;
  // Set once the view controller is being destroyed; offers after that
  // reach a controller that no longer exists.
  bool controller_destroyed = false;
  int offers_after_destroy = 0;

  HWND parking_window = nullptr;
  HWND view_window = nullptr;
  int view_width = 0;
  int view_height = 0;
  FlutterDesktopOnNextFrameCallback next_frame_callback = nullptr;
  void* next_frame_data = nullptr;

  // Returns how often `call` was recorded.
  int Count(const std::string& call) const;
  // Returns the position of the first `call`, or -1.
  int IndexOf(const std::string& call) const;
  // Runs the pending next-frame callback once, as a drawn frame would.
  void DrawFrame();
};

// Returns the fake, reset by ResetFakeEngine.
FakeWindowEngine& Fake();

// Forgets all recorded calls and settings; destroys leftover windows.
void ResetFakeEngine();

}  // namespace flutter::testing

#endif  // TESTS_ENGINE_FAKES_FAKE_WINDOW_ENGINE_H_
