// The tunnel's data directory as the installer builds it: the access list
// that keeps it private to one user besides SYSTEM and the Administrators,
// the files placed in it, and the configuration file's removal.
#ifndef APP_TUNNEL_CONTROL_INSTALLER_DATA_DIRECTORY_H_
#define APP_TUNNEL_CONTROL_INSTALLER_DATA_DIRECTORY_H_

#include <optional>
#include <string>
#include <vector>

#include "app/tunnel_control/installer/data_directory_security.h"
#include "app/tunnel_control/os/file_objects.h"

namespace tunnel_control {

// A small file that keeps the data directory from ever being empty: an
// empty directory that the user may add files to could be turned into a
// mount point.
inline constexpr wchar_t kDirectoryMarkerName[] = L"keep.txt";

// What a data directory that is not exactly ours is renamed to, followed by
// random hex digits: "%ProgramData%\VarnVPN.old-1f2e...".
inline constexpr wchar_t kAsideInfix[] = L".old-";

// What to do with an existing entry at the data directory's name.
enum class Found {
  kKeep,       // exactly ours for this user: held and locked
  kAside,      // anything else: to be renamed aside
  kAsideOurs,  // an old directory of ours, locked: renamed, then cleared
  kBusy,       // held open by someone in a way that blocks us
  kNotAt,      // the name does not lead where it should
  kNotSecured,
  kToLock,  // a directory of ours: to be locked before it is looked into
  kToList,  // locked and as we leave it: to be listed
};

// What the installer learned of the existing entry at the data directory's
// name. `locked` and `only_our_files` are learned when ClassifyExisting asks
// for them, in that order.
struct ExistingFacts {
  bool held = false;               // opened to hold it
  bool sharing_violation = false;  // refused so, when not held
  bool movable = false;            // not held, yet opened for a move alone
  std::optional<ObjectFacts> object;
  bool at_name = false;  // its final path is the data directory's
  std::optional<ObjectSecurity> security;
  std::optional<bool> locked;
  std::optional<bool> only_our_files;  // the marker and our files alone
};

// Decides from `facts` what the entry is, for a user whose data directory
// has the DACL entries `ours`: only a real directory of SYSTEM or the
// Administrators at the name itself is looked into, and only one exactly as
// the installer leaves it is kept. Anything someone could hold, link or own
// is moved aside, never entered.
Found ClassifyExisting(const ExistingFacts& facts,
                       const std::vector<AccessEntry>& ours);

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
