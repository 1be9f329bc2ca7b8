#include "app/tunnel_control/client/service_control.h"

#include "app/tunnel_control/client/elevated_install.h"
#include "app/tunnel_control/client/tunnel_config.h"
#include "app/tunnel_control/common/error_texts.h"
#include "app/tunnel_control/common/service_wait.h"
#include "app/tunnel_control/common/tunnel_names.h"
#include "app/tunnel_control/os/platform.h"
#include "app/tunnel_control/os/scoped_handles.h"

namespace tunnel_control {
namespace {

// The service DACL grants the installing user exactly these rights and every
// other interactive user only the query right.
constexpr DWORD kConnectAccess =
    SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;  // 0x34
constexpr DWORD kDisconnectAccess = SERVICE_QUERY_STATUS | SERVICE_STOP;
constexpr DWORD kStageAccess = SERVICE_QUERY_STATUS;

constexpr ULONGLONG kStartWaitMs = 15'000;

ScopedServiceHandle OpenManager() {
  return ScopedServiceHandle(
      Os().OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
}

ScopedServiceHandle OpenTunnelService(SC_HANDLE manager, DWORD access) {
  return ScopedServiceHandle(
      Os().OpenServiceW(manager, kTunnelServiceName, access));
}

void SetManagerUnavailable(OpError* error, DWORD last_error) {
  SetOpError(error, kScmUnavailable, last_error);
}

void SetServiceUnavailable(OpError* error, DWORD last_error) {
  SetOpError(error, kServiceUnavailable, last_error);
}

// Stops a previous instance, writes the configuration and starts the service
// on an open `service`; `installed` tells whether an elevated install already
// ran in this connect. Returns kGoOn once the service runs.
ConnectAction RestartWithConfig(SC_HANDLE service,
                                const std::string& config_text, bool installed,
                                OpError* error) {
  const DWORD state = QueryServiceState(service);
  if (state == SERVICE_START_PENDING || state == SERVICE_RUNNING) {
    if (StopAndWait(service) != SERVICE_STOPPED) {
      SetOpError(error, kPreviousStopTimedOut);
      return ConnectAction::kFail;
    }
  }

  // The stopped tunnel's host may hold the file a moment longer.
  bool written = false;
  const DWORD write_error = RetryWhileStoppedServiceEnds(service, [&] {
    DWORD failure = ERROR_SUCCESS;
    written = WriteTunnelConfig(config_text, error, &failure);
    return failure;
  });
  const ConnectAction after_write = NextConnectAction(
      ConnectStep::kWriteConfig, written, write_error, installed);
  if (after_write != ConnectAction::kGoOn) return after_write;

  if (!Os().StartServiceW(service, 0, nullptr)) {
    const DWORD start_error = ::GetLastError();
    // A configuration the service will not read must not outlive the start.
    DeleteTunnelConfig();
    const ConnectAction after_start = NextConnectAction(
        ConnectStep::kStartService, false, start_error, installed);
    if (after_start == ConnectAction::kFail) {
      SetOpError(error, kStartFailed, start_error);
    }
    return after_start;
  }

  if (WaitForServiceState(service, {SERVICE_RUNNING, SERVICE_STOPPED},
                          kStartWaitMs) == SERVICE_RUNNING) {
    return ConnectAction::kGoOn;
  }
  // A service still pending at the deadline is left as it is.
  RetryWhileStoppedServiceEnds(service, DeleteTunnelConfig);
  SetOpError(error, kTunnelFailed);
  return ConnectAction::kFail;
}

}  // namespace

bool ConnectTunnel(const std::string& config_text, OpError* error) {
  bool installed = false;
  for (;;) {
    ScopedServiceHandle manager = OpenManager();
    if (!manager) {
      SetManagerUnavailable(error, ::GetLastError());
      return false;
    }

    ScopedServiceHandle service =
        OpenTunnelService(manager.Get(), kConnectAccess);
    const DWORD open_error = service ? ERROR_SUCCESS : ::GetLastError();
    ConnectAction action = NextConnectAction(
        ConnectStep::kOpenService, service.IsValid(), open_error, installed);
    if (action == ConnectAction::kFail) {
      SetServiceUnavailable(error, open_error);
      return false;
    }
    if (action == ConnectAction::kGoOn) {
      action = RestartWithConfig(service.Get(), config_text, installed, error);
    }
    if (action == ConnectAction::kGoOn) return true;
    if (action == ConnectAction::kFail) return false;

    // The installer creates the service, grants this user start and stop
    // rights and the data directory's modify rights; then try once more.
    if (!RunElevatedInstall(error)) return false;
    installed = true;
  }
}

bool DisconnectTunnel(OpError* error) {
  ScopedServiceHandle manager = OpenManager();
  if (!manager) {
    // Without the service manager the tunnel's state is unknown, so its
    // configuration stays.
    SetManagerUnavailable(error, ::GetLastError());
    return false;
  }

  ScopedServiceHandle service =
      OpenTunnelService(manager.Get(), kDisconnectAccess);
  if (!service) {
    const DWORD open_error = ::GetLastError();
    DeleteTunnelConfig();
    if (open_error == ERROR_SERVICE_DOES_NOT_EXIST) return true;
    SetServiceUnavailable(error, open_error);
    return false;
  }

  if (QueryServiceState(service.Get()) == SERVICE_STOPPED) {
    RetryWhileStoppedServiceEnds(service.Get(), DeleteTunnelConfig);
    return true;
  }

  if (!SendStop(service.Get())) {
    const DWORD stop_error = ::GetLastError();
    // A service that stopped on its own since the query is what we want.
    if (stop_error != ERROR_SERVICE_NOT_ACTIVE) {
      SetOpError(error, kStopFailed, stop_error);
      return false;
    }
  }

  // A stop slower than the wait still counts as a disconnect.
  WaitForServiceState(service.Get(), {SERVICE_STOPPED}, kStopWaitMs);
  RetryWhileStoppedServiceEnds(service.Get(), DeleteTunnelConfig);
  return true;
}

std::string QueryTunnelStage() {
  ScopedServiceHandle manager = OpenManager();
  if (!manager) return "disconnected";
  ScopedServiceHandle service = OpenTunnelService(manager.Get(), kStageAccess);
  if (!service) return "disconnected";
  return StageForState(QueryServiceState(service.Get()));
}

ConnectAction NextConnectAction(ConnectStep step, bool succeeded, DWORD error,
                                bool installed) {
  if (succeeded) return ConnectAction::kGoOn;
  if (installed) return ConnectAction::kFail;
  switch (step) {
    case ConnectStep::kOpenService:
      return error == ERROR_SERVICE_DOES_NOT_EXIST ||
                     error == ERROR_ACCESS_DENIED
                 ? ConnectAction::kElevate
                 : ConnectAction::kFail;
    case ConnectStep::kWriteConfig:
      // A tunnel still stopping holds the file: no install changes that.
      return error == ERROR_SHARING_VIOLATION ? ConnectAction::kFail
                                              : ConnectAction::kElevate;
    case ConnectStep::kStartService:
      return error == ERROR_ACCESS_DENIED ? ConnectAction::kElevate
                                          : ConnectAction::kFail;
  }
  return ConnectAction::kFail;
}

const char* StageForState(DWORD state) {
  switch (state) {
    case SERVICE_START_PENDING:
      return "connecting";
    case SERVICE_RUNNING:
      return "connected";
    case SERVICE_STOP_PENDING:
      return "disconnecting";
    default:
      return "disconnected";
  }
}

}  // namespace tunnel_control
