// The small panel the stand-in UI draws in its view: the tunnel's stage,
// Connect and Disconnect buttons and the configuration text. The buttons
// make the same channel calls a scenario makes.
#ifndef STAND_INS_ENGINE_PANEL_H_
#define STAND_INS_ENGINE_PANEL_H_

#include <string>

#include "stand_ins/engine/scoped_window.h"
#include "stand_ins/engine/ui_caller.h"
#include "win/windows_api.h"

namespace stand_in {

class Panel {
 public:
  // Creates the controls as children of `view`. Window thread only, like
  // every other operation.
  Panel(HWND view, UiCaller* caller);
  ~Panel();
  Panel(const Panel&) = delete;
  Panel& operator=(const Panel&) = delete;

  // Places the controls for a view of `width` x `height` pixels.
  void Layout(int width, int height);

  // Draws the title and the stage line.
  void Paint(HDC dc);

  // Handles a WM_COMMAND from a control; false when it was not ours.
  bool OnCommand(WPARAM wparam);

  void SetStage(const std::string& stage);
  void SetConfig(const std::string& config);

  // Asks for the stage, as the UI does when it starts.
  void RequestStage();

 private:
  void Connect();
  void Disconnect();

  HWND view_;
  UiCaller* caller_;
  std::string stage_ = "unknown";
  ScopedGdiObject<HFONT> font_;
  ScopedGdiObject<HFONT> title_font_;
  ScopedWindow connect_button_;
  ScopedWindow disconnect_button_;
  ScopedWindow config_edit_;
};

}  // namespace stand_in

#endif  // STAND_INS_ENGINE_PANEL_H_
