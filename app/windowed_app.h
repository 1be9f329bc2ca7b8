// The windowed application: the mode the user starts.
#ifndef APP_WINDOWED_APP_H_
#define APP_WINDOWED_APP_H_

#include <string>
#include <vector>

// Runs the windowed application with all command-line `arguments` passed on
// to the UI. Returns 0 after the window was closed, 1 if the engine or a
// plug-in library cannot be loaded or the window could not be created.
int RunWindowedApp(std::vector<std::string> arguments);

#endif  // APP_WINDOWED_APP_H_
