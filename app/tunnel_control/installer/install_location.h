// Whether the executable lives where only SYSTEM, the Administrators and
// TrustedInstaller can change it: the service runs it, and every DLL beside
// it, as SYSTEM. The package judges its install folder by the same rules
// before it copies anything there.
#ifndef APP_TUNNEL_CONTROL_INSTALLER_INSTALL_LOCATION_H_
#define APP_TUNNEL_CONTROL_INSTALLER_INSTALL_LOCATION_H_

#include <optional>
#include <string>

#include "app/tunnel_control/os/file_objects.h"

namespace tunnel_control {

// What an object is to the executable.
enum class LocationRole {
  kAppFolder,    // the executable's folder
  kAppFile,      // the executable or a DLL in its folder
  kFolderAbove,  // any folder above the executable's folder
};

// True when nobody but the trusted principals can change `security` in a way
// that matters for `role`. Inherit-only entries do not apply to the object
// itself, and deny entries are not relied on.
bool OthersCannotChange(const ObjectSecurity& security, LocationRole role);

// True when someone but the trusted principals may create folders in the
// folder of `security`: a folder made there could be theirs, made first,
// with a handle kept that survives any later change of its DACL.
bool OthersCanCreateFolders(const ObjectSecurity& security);

// True when the folder of `security`, inside the folder of `parent`, can
// only have been made by a trusted principal: nobody else may create folders
// in its parent, or TrustedInstaller owns it (nobody else can make it so).
bool OnlyTrustedCouldHaveMadeIt(const ObjectSecurity& security,
                                const ObjectSecurity& parent);

// The owner and DACL a folder gets when `creator` creates it inside the
// folder of `parent`, from the parent's inheritable entries.
ObjectSecurity InheritedFolderSecurity(const ObjectSecurity& parent,
                                       const std::wstring& creator);

// Returns the final path of `executable`, links resolved, when the
// executable, every DLL beside it and every folder up to the volume root
// are protected, no folder on the way could have been made by someone else
// (see OnlyTrustedCouldHaveMadeIt), the volume is a fixed drive on no removable
// bus (unless it holds Windows) and the path holds no '%'. Otherwise an empty
// string.
std::wstring ProtectedExecutablePath(const std::wstring& executable);

// What the package's check of an install folder found.
enum class InstallFolderVerdict {
  kAccepted,
  kDefaultFolder,            // [Program Files]\Varn VPN, protected by Windows
  kUnsafePath,               // no local path on a fixed, non-removable volume
  kUnreadable,               // a folder on the path could not be read
  kNotPlainFolder,           // a file, junction or mount point on the path
  kOthersCouldMakeIt,        // its parent lets others create folders
  kFolderAboveUnprotected,   // others may rename or re-permission it
  kUntrustedOwner,           // the existing install folder is someone else's
  kWouldInheritUnprotected,  // created, it would let others change it
};

struct InstallFolderCheck {
  InstallFolderVerdict verdict = InstallFolderVerdict::kUnsafePath;
  std::wstring folder;  // the folder the verdict concerns

  bool accepted() const {
    return verdict == InstallFolderVerdict::kAccepted ||
           verdict == InstallFolderVerdict::kDefaultFolder;
  }
  bool operator==(const InstallFolderCheck&) const = default;
};

// The package's rules for `install_folder` (an INSTALLDIR value): every
// folder above it, existing or as it would be made, protected as one above
// the executable's; none that others could have made first
// (OnlyTrustedCouldHaveMadeIt); an existing install folder owned by a
// trusted principal (the package then sets its DACL), a missing one judged
// by what it would inherit when Windows Installer's service makes it.
// [Program Files]\Varn VPN itself is accepted unread: Windows protects it,
// and the installer mode checks it again at the first connect.
InstallFolderCheck CheckInstallFolder(const std::wstring& install_folder);

// One line for the install log about `install_folder`.
std::wstring DescribeInstallFolderCheck(const std::wstring& install_folder,
                                        const InstallFolderCheck& check);

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_INSTALLER_INSTALL_LOCATION_H_
