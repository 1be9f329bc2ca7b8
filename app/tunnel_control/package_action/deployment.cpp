// The managed-deployment steps: the grant of the tunnel to the user an
// administrator names (TUNNELUSER), undone when the install fails; the
// tunnel's state kept across an upgrade; and the removal of the tunnel's
// data on request (REMOVEDATA=1). The installer library does the work; this
// reads the install's properties and writes its log.
#include <string>

#include "app/tunnel_control/installer/package_steps.h"
#include "app/tunnel_control/installer/service_installer.h"
#include "app/tunnel_control/package_action/session.h"

namespace tunnel_control {
namespace {

// Immediate, before the old copy goes: what the deferred steps need to
// know, in private properties that the command line cannot set.
UINT Record(const Session& session) {
  const TunnelState state = QueryTunnelState();
  if (state != TunnelState::kAbsent) session.SetProperty(L"TunnelFound", L"1");
  if (state == TunnelState::kRunning) session.SetProperty(L"TunnelRan", L"1");
  session.Log(state == TunnelState::kAbsent    ? L"no tunnel service yet"
              : state == TunnelState::kRunning ? L"the tunnel is running"
              : state == TunnelState::kStopped ? L"the tunnel is stopped"
                                               : L"the tunnel's state is "
                                                 L"unknown: it is treated as "
                                                 L"stopped");
  return ERROR_SUCCESS;
}

// Deferred as SYSTEM; CustomActionData is "<TUNNELUSER>|<INSTALLDIR>".
UINT Grant(const Session& session) {
  const StepResult result = GrantTunnel(session.Property(L"CustomActionData"));
  session.Log(result.log);
  return result.succeeded ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

// Rollback of a failed install that had no service before: nothing of the
// grant stays behind.
UINT UndoGrant(const Session& session) {
  session.Log(L"rollback: removing the tunnel service exited " +
              std::to_wstring(RunUninstallMode()));
  return ERROR_SUCCESS;
}

// Deferred as SYSTEM, once the new files are in place. A tunnel that does
// not start fails nothing: the new version is installed either way.
UINT Restart(const Session& session) {
  session.Log(StartTunnel().log);
  return ERROR_SUCCESS;
}

// Deferred as SYSTEM, after the tunnel service is gone. What cannot be
// removed stays, and the log says why.
UINT RemoveData(const Session& session) {
  for (const std::wstring& line : RemoveTunnelData()) session.Log(line);
  return ERROR_SUCCESS;
}

}  // namespace
}  // namespace tunnel_control

VARN_CUSTOM_ACTION(RecordTunnelState, tunnel_control::Record)
VARN_CUSTOM_ACTION(GrantTunnelUser, tunnel_control::Grant)
VARN_CUSTOM_ACTION(UndoTunnelGrant, tunnel_control::UndoGrant)
VARN_CUSTOM_ACTION(RestartTunnel, tunnel_control::Restart)
VARN_CUSTOM_ACTION(RemoveTunnelData, tunnel_control::RemoveData)
