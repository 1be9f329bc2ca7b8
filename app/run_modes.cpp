#include "app/run_modes.h"

#include <utility>

#include "app/command_line.h"
#include "app/tunnel_control/common/tunnel_facts.h"
#include "app/tunnel_control/installer/service_installer.h"
#include "app/tunnel_control/os/platform.h"
#include "app/tunnel_control/service_host/service_host.h"
#include "app/windowed_app.h"

RunModeSelection SelectRunMode(const std::vector<std::string>& arguments) {
  RunModeSelection selection;
  if (arguments.empty()) return selection;
  const std::wstring first = Utf8ToWide(arguments[0]);
  if (first == tunnel_control::kServiceSwitch) {
    selection.mode = RunMode::kService;
  } else if (first == tunnel_control::kInstallSwitch) {
    selection.mode = RunMode::kInstall;
  } else if (first == tunnel_control::kUninstallSwitch) {
    selection.mode = RunMode::kUninstall;
    return selection;
  } else {
    return selection;
  }
  if (arguments.size() >= 2) selection.argument = Utf8ToWide(arguments[1]);
  return selection;
}

int RunSelectedMode(std::vector<std::string> arguments) {
  RunModeSelection selection = SelectRunMode(arguments);
  if (selection.mode != RunMode::kWindowed) {
    // The one-shot modes run elevated or as SYSTEM: libraries come from
    // System32 only, unless loaded by full path, never from the current
    // folder, PATH or the executable's folder.
    tunnel_control::Os().SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  switch (selection.mode) {
    case RunMode::kService:
      return tunnel_control::RunServiceMode(selection.argument);
    case RunMode::kInstall:
      return tunnel_control::RunInstallMode(selection.argument);
    case RunMode::kUninstall:
      return tunnel_control::RunUninstallMode();
    case RunMode::kWindowed:
      break;
  }
  return RunWindowedApp(std::move(arguments));
}

int RunApplication() { return RunSelectedMode(ReadCommandLineArguments()); }
