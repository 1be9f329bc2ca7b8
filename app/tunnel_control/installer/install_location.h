// Whether the executable lives where only SYSTEM, the Administrators and
// TrustedInstaller can change it: the service runs it, and every DLL beside
// it, as SYSTEM.
#ifndef APP_TUNNEL_CONTROL_INSTALLER_INSTALL_LOCATION_H_
#define APP_TUNNEL_CONTROL_INSTALLER_INSTALL_LOCATION_H_

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

// Returns the final path of `executable`, links resolved, when the
// executable, every DLL beside it and every folder up to the volume root
// are protected, the volume is a fixed drive on no removable bus (unless it
// holds Windows) and the path holds no '%'.
// Otherwise an empty string.
std::wstring ProtectedExecutablePath(const std::wstring& executable);

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_INSTALLER_INSTALL_LOCATION_H_
