// The entry point of varn_vpn.exe. The one-shot modes run before anything
// else is set up: no console, no COM, no window.
#include "app/run_modes.h"
#include "win/windows_api.h"

int APIENTRY wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return RunApplication();
}
