// Switching the tunnel on and off: the tunnel service is started, stopped and
// queried through the service manager.
#ifndef APP_TUNNEL_CONTROL_CLIENT_SERVICE_CONTROL_H_
#define APP_TUNNEL_CONTROL_CLIENT_SERVICE_CONTROL_H_

#include <string>

#include "app/tunnel_control/common/op_error.h"
#include "win/windows_api.h"

namespace tunnel_control {

// Writes `config_text` to the configuration file, installs or repairs the
// service through the elevated installer when needed, (re)starts the service
// and waits until it runs. Returns true when it reached the running state;
// otherwise `error` holds the reason.
bool ConnectTunnel(const std::string& config_text, OpError* error);

// Stops the service, waits a bounded time and deletes the configuration
// file. Returns true when the tunnel is off or there is no service.
bool DisconnectTunnel(OpError* error);

// Returns "disconnected", "connecting", "connected" or "disconnecting" from
// the service's current state. Never fails.
std::string QueryTunnelStage();

// The steps of a connect that an elevated install can make succeed.
enum class ConnectStep {
  kOpenService,  // opening the service for query, start and stop
  kWriteConfig,  // replacing the configuration file
  kStartService,
};

enum class ConnectAction { kGoOn, kElevate, kFail };

// What a connect does after `step`: go on when it succeeded; elevate when
// the installer can help (the service is missing, or this user lacks rights
// on it or on the data directory) and has not run yet in this connect
// (`installed`); fail otherwise. `error` is the step's Windows error: any
// failed configuration write counts but a sharing violation, which is the
// tunnel still holding the file, not a lack of rights.
ConnectAction NextConnectAction(ConnectStep step, bool succeeded, DWORD error,
                                bool installed);

// The stage the UI shows for a service `state` (0: unreadable).
const char* StageForState(DWORD state);

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_CLIENT_SERVICE_CONTROL_H_
