#include "app/console.h"

#include <io.h>

#include <cstdio>
#include <iostream>

#include "engine_client/flutter_windows.h"
#include "win/windows_api.h"

void AttachNewConsole() {
  if (!::AllocConsole()) return;
  FILE* reopened = nullptr;
  if (freopen_s(&reopened, "CONOUT$", "w", stdout) != 0) {
    _dup2(_fileno(stdout), 1);
  }
  if (freopen_s(&reopened, "CONOUT$", "w", stderr) != 0) {
    // Standard output's descriptor on purpose: it is the one known to work.
    _dup2(_fileno(stdout), 2);
  }
  std::ios::sync_with_stdio(true);
  FlutterDesktopResyncOutputStreams();
}
