// The removal's step as SYSTEM (deferred, no impersonation): the
// configuration file and the tunnel service go while the files are still
// there. It runs from this library, which the package holds, never from the
// installed exe, which someone could have swapped.
#include <string>

#include "app/tunnel_control/installer/service_installer.h"
#include "app/tunnel_control/package_action/session.h"

namespace tunnel_control {
namespace {

UINT RemoveTunnelService(const Session& session) {
  const int code = RunUninstallMode();
  session.Log(L"removing the tunnel service exited " + std::to_wstring(code));
  // A failure rolls the removal back, so the app stays to try again instead
  // of leaving a service behind.
  return code == kUninstallSucceeded ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

}  // namespace
}  // namespace tunnel_control

VARN_CUSTOM_ACTION(RemoveTunnel, tunnel_control::RemoveTunnelService)
