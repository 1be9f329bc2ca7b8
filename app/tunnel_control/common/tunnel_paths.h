// Where the tunnel's files are: the running executable, the data directory
// %ProgramData%\VarnVPN and the configuration file in it. Computed anew at
// every call.
#ifndef APP_TUNNEL_CONTROL_COMMON_TUNNEL_PATHS_H_
#define APP_TUNNEL_CONTROL_COMMON_TUNNEL_PATHS_H_

#include <string>

namespace tunnel_control {

// Returns the running executable's full path, or an empty string when the
// lookup fails or the path does not fit 259 characters.
std::wstring ExecutablePath();

// Returns the data directory path, or an empty string when the program-data
// folder cannot be looked up.
std::wstring DataDirectoryPath();

// Returns the configuration file path, empty exactly when
// DataDirectoryPath() is.
std::wstring ConfigFilePath();

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_COMMON_TUNNEL_PATHS_H_
