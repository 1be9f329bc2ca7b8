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

// A small file that keeps the data directory from ever being empty: an
// empty directory that the user may add files to could be turned into a
// mount point.
inline constexpr wchar_t kDirectoryMarkerName[] = L"keep.txt";
inline constexpr wchar_t kDirectoryMarkerSddl[] =
    L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";

// The tunnel library's log in the data directory. SYSTEM writes it, so the
// user may read it but neither replace nor delete it: a link put in its
// place would steer SYSTEM's writes into another file.
inline constexpr wchar_t kTunnelLogName[] = L"log.bin";

// Returns the data directory path, or an empty string when the program-data
// folder cannot be looked up. Computed anew at every call.
std::wstring DataDirectoryPath();

// Returns the configuration file path, empty exactly when
// DataDirectoryPath() is.
std::wstring ConfigFilePath();

// Builds the SDDL of the data directory for `user_sid`: owner Administrators
// and a protected DACL granting SYSTEM and Administrators full control. The
// user may list the directory and add files to it, but neither delete,
// rename nor re-permission it; the files it holds give the user modify
// rights through an entry that applies to files only.
std::wstring DataDirectorySddl(const std::wstring& user_sid);

// Builds the SDDL of the tunnel's log for `user_sid`: owner Administrators,
// SYSTEM and Administrators full control, the user read access.
std::wstring TunnelLogSddl(const std::wstring& user_sid);

enum class DirectoryResult {
  kReady,
  kRefused,     // not made, or not a plain directory of SYSTEM or the
                // Administrators at the expected place; left untouched
  kNotSecured,  // its security could not be set or its contents settled
};

// Creates `directory` with the security of DataDirectorySddl(user_sid), or
// takes over an existing one, through one handle that never follows a link.
// Whatever else is inside and was not made by SYSTEM or the Administrators
// (the configuration file always) is removed, or, if it is held open,
// closed to everyone but them. Leaves the marker file and the tunnel's log
// in place, the log with the security of TunnelLogSddl(user_sid).
DirectoryResult PrepareDataDirectory(const std::wstring& directory,
                                     const std::wstring& user_sid);

// Deletes the configuration file, but only from the real data directory:
// when the directory is a link, nothing is deleted.
void DeleteConfigInDataDirectory();

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_DATA_DIRECTORY_H_
