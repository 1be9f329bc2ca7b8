// Where the tunnel's files live: %ProgramData%\VarnVPN and the configuration
// file in it, and the access list that keeps that directory private to one
// user besides SYSTEM and the Administrators.
#ifndef APP_TUNNEL_CONTROL_DATA_DIRECTORY_H_
#define APP_TUNNEL_CONTROL_DATA_DIRECTORY_H_

#include <string>

namespace tunnel_control {

// The tunnel's name: the data directory's name, the configuration file's
// base name and the suffix of the service name.
inline constexpr wchar_t kTunnelName[] = L"VarnVPN";

// Returns the data directory path, or an empty string when the program-data
// folder cannot be looked up. Computed anew at every call.
std::wstring DataDirectoryPath();

// Returns the configuration file path, empty exactly when
// DataDirectoryPath() is.
std::wstring ConfigFilePath();

// Builds the SDDL of the data directory for `user_sid`: owner Administrators
// and a protected DACL granting SYSTEM and Administrators full control and
// the user modify rights without the right to change permissions.
std::wstring DataDirectorySddl(const std::wstring& user_sid);

// Applies the owner and the protected DACL of DataDirectorySddl(user_sid) to
// `directory` in one call, replacing whatever was there. Returns true on
// success. The owner is set too: otherwise a user who created the folder
// before the installer ran would stay its owner and could rewrite the DACL.
bool ProtectDataDirectory(const std::wstring& directory,
                          const std::wstring& user_sid);

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_DATA_DIRECTORY_H_
