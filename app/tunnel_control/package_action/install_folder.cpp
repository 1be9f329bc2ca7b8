// The install folder's check, before any file is copied: once as the
// installing user (immediate, so a refusal ends the install before it
// starts) and again as SYSTEM right before the files go in (deferred, no
// impersonation), where nothing a user passed in can change the outcome.
#include <string>

#include "app/tunnel_control/installer/install_location.h"
#include "app/tunnel_control/package_action/session.h"

namespace tunnel_control {
namespace {

UINT Check(const Session& session, const std::wstring& install_folder) {
  const InstallFolderCheck check = CheckInstallFolder(install_folder);
  session.Log(DescribeInstallFolderCheck(install_folder, check));
  return check.accepted() ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

UINT CheckNow(const Session& session) {
  return Check(session, session.Property(L"INSTALLDIR"));
}

// A deferred action sees only what the install passed it as
// CustomActionData: here the resolved INSTALLDIR.
UINT CheckAgain(const Session& session) {
  return Check(session, session.Property(L"CustomActionData"));
}

}  // namespace
}  // namespace tunnel_control

VARN_CUSTOM_ACTION(CheckInstallFolder, tunnel_control::CheckNow)
VARN_CUSTOM_ACTION(CheckInstallFolderAgain, tunnel_control::CheckAgain)
