// Posts the window-task message number with a made-up lParam to a window of
// another process, as any program on the same desktop can.
//
//   post_task_message.exe WINDOW LPARAM   (both decimal)
#include <cstdint>
#include <cwchar>

#include "win/windows_api.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const auto window = reinterpret_cast<HWND>(
      static_cast<uintptr_t>(std::wcstoull(argv[1], nullptr, 10)));
  const auto lparam = static_cast<LPARAM>(std::wcstoull(argv[2], nullptr, 10));
  return ::PostMessageW(window, 0xF101, 0, lparam) ? 0 : 1;
}
