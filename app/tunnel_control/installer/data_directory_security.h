// The security the installer gives the tunnel's data directory and what it
// holds, each descriptor written once, here.
#ifndef APP_TUNNEL_CONTROL_INSTALLER_DATA_DIRECTORY_SECURITY_H_
#define APP_TUNNEL_CONTROL_INSTALLER_DATA_DIRECTORY_SECURITY_H_

#include <string>

namespace tunnel_control {

// Owner Administrators, SYSTEM and the Administrators full control, nothing
// passed on and nobody else let in.
inline constexpr wchar_t kAdministratorsOnlySddl[] =
    L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";

// The marker file that keeps the data directory from ever being empty.
inline constexpr const wchar_t* kDirectoryMarkerSddl = kAdministratorsOnlySddl;

// What a folder being removed carries: nobody but SYSTEM and the
// Administrators may open it anew, and nothing passes on to what it holds.
inline constexpr const wchar_t* kRemovalSddl = kAdministratorsOnlySddl;

// The DACL of the data directory for `user_sid` ("D:..."): a protected DACL
// granting SYSTEM and Administrators full control. The user may list the
// directory and add files to it, but neither delete, rename nor re-permission
// it. A file gives its creator modify rights and the user read rights: the
// user's configuration is the user's to change, the log SYSTEM writes is not.
std::wstring DataDirectoryDacl(const std::wstring& user_sid);

// The same without the user's entry on the directory itself: what the
// directory carries while the installer works in it.
std::wstring LockedDataDirectoryDacl(const std::wstring& user_sid);

// The data directory's full descriptors: owner Administrators and the DACLs
// above.
std::wstring DataDirectorySddl(const std::wstring& user_sid);
std::wstring LockedDataDirectorySddl(const std::wstring& user_sid);

// The tunnel's log for `user_sid`: owner Administrators, SYSTEM and
// Administrators full control, the user read access.
std::wstring TunnelLogSddl(const std::wstring& user_sid);

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_INSTALLER_DATA_DIRECTORY_SECURITY_H_
