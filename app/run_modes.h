// Choosing the run mode from the command line and running it.
#ifndef APP_RUN_MODES_H_
#define APP_RUN_MODES_H_

#include <string>
#include <vector>

enum class RunMode {
  kWindowed,   // no switch: the application the user starts
  kService,    // "/service <config path>": run by the service manager
  kInstall,    // "/tunnel-install <SID>": elevated installer
  kUninstall,  // "/tunnel-uninstall"
};

struct RunModeSelection {
  RunMode mode = RunMode::kWindowed;
  // The second argument as UTF-16 for kService and kInstall; empty when it
  // is absent or not valid UTF-8.
  std::wstring argument;
};

// Selects the mode from the UTF-8 arguments after the program name. Only
// the first argument can be a switch, matched exactly and case-sensitively;
// anything else selects the windowed application.
RunModeSelection SelectRunMode(const std::vector<std::string>& arguments);

// Runs the mode `arguments` select and returns the process exit code. The
// windowed application receives all arguments.
int RunSelectedMode(std::vector<std::string> arguments);

// Reads the command line and runs the selected mode; the entry point's body.
int RunApplication();

#endif  // APP_RUN_MODES_H_
