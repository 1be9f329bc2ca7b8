// The tunnel's data directory as the installer builds it: the access list
// that keeps it private to one user besides SYSTEM and the Administrators,
// the files placed in it, and the configuration file's removal.
#ifndef APP_TUNNEL_CONTROL_INSTALLER_DATA_DIRECTORY_H_
#define APP_TUNNEL_CONTROL_INSTALLER_DATA_DIRECTORY_H_

#include <string>
#include <vector>

#include "app/tunnel_control/os/file_objects.h"

namespace tunnel_control {

// A small file that keeps the data directory from ever being empty: an
// empty directory that the user may add files to could be turned into a
// mount point.
inline constexpr wchar_t kDirectoryMarkerName[] = L"keep.txt";
inline constexpr wchar_t kDirectoryMarkerSddl[] =
    L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";

// What a data directory that is not exactly ours is renamed to, followed by
// random hex digits: "%ProgramData%\VarnVPN.old-1f2e...".
inline constexpr wchar_t kAsideInfix[] = L".old-";

// Builds the SDDL of the data directory for `user_sid`: owner Administrators
// and a protected DACL granting SYSTEM and Administrators full control. The
// user may list the directory and add files to it, but neither delete,
// rename nor re-permission it. A file gives its creator modify rights and
// the user read rights: the user's configuration is the user's to change,
// the log SYSTEM writes is not.
std::wstring DataDirectorySddl(const std::wstring& user_sid);

// The same without the user's entry on the directory itself: what the
// directory carries while the installer works in it.
std::wstring LockedDataDirectorySddl(const std::wstring& user_sid);

// DataDirectorySddl(user_sid) as the entries Windows reads back.
std::vector<AccessEntry> DataDirectoryEntries(const std::wstring& user_sid);

// Builds the SDDL of the tunnel's log for `user_sid`: owner Administrators,
// SYSTEM and Administrators full control, the user read access.
std::wstring TunnelLogSddl(const std::wstring& user_sid);

enum class DirectoryResult {
  kReady,
  kRefused,     // held open by someone, not at its expected place, or its
                // name taken again on every round
  kNotSecured,  // its security could not be set or its files placed
};

// Builds the data directory for `user_sid`, or takes over the existing one
// when it is exactly what this builds for that user. Anything else at that
// name (a link, someone else's folder, another user's directory, foreign
// files or subfolders) is renamed aside by handle, never entered, and what
// it held is removed where that is safe. Nobody but SYSTEM and the
// Administrators can open the directory for writing, add to it, mount it or
// rename it until the user's entry is granted as the very last step.
DirectoryResult PrepareDataDirectory(const std::wstring& directory,
                                     const std::wstring& user_sid);

// What the removal of the tunnel's data did with one folder.
enum class FolderRemoval {
  kRemoved,
  kNotOurs,     // owned by someone but SYSTEM and the Administrators: kept
  kNotFolder,   // a link or a file at the name: kept, nothing followed
  kBusy,        // cannot be held (open elsewhere, moved, closed to us)
  kIncomplete,  // some of what it held could not go, so it stays
};

struct RemovedFolder {
  std::wstring path;
  FolderRemoval outcome;
  std::wstring owner;  // the SID of a folder kept as someone else's
};

// Deletes the data directory and every "VarnVPN.old-*" folder beside it that
// SYSTEM or the Administrators own, with all they hold. Each folder is held
// unshared and locked to SYSTEM and the Administrators while it is emptied;
// a name inside it is deleted by handle, a link as the link itself. Returns
// what happened to each folder found.
std::vector<RemovedFolder> RemoveDataDirectories();

// Deletes the configuration file, but only from the real data directory:
// when the directory is a link, nothing is deleted. Returns 0 unless the
// file is there and its deletion failed, else that error.
DWORD DeleteConfigInDataDirectory();

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_INSTALLER_DATA_DIRECTORY_H_
