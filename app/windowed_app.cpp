#include "app/windowed_app.h"

#include <utility>

#include "app/console.h"
#include "app/first_use_libraries.h"
#include "app/flutter_window.h"
#include "engine_client/flutter_project.h"
#include "win/windows_api.h"

int RunWindowedApp(std::vector<std::string> arguments) {
  if (!LoadFirstUseLibraries()) return 1;

  // Output goes to the console the app was started from, if any; under a
  // debugger a console of its own keeps the engine's output visible.
  if (!::AttachConsole(ATTACH_PARENT_PROCESS) && ::IsDebuggerPresent()) {
    AttachNewConsole();
  }

  // Plug-ins may use COM on the window thread.
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  flutter::FlutterProject project(L"data");
  project.set_entry_arguments(std::move(arguments));

  FlutterWindow window(project);
  if (!window.Create(L"varn_vpn", Win32Window::Point(10, 10),
                     Win32Window::Size(1280, 720))) {
    return 1;
  }
  window.SetQuitWhenDestroyed(true);

  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }

  ::CoUninitialize();
  return 0;
}
