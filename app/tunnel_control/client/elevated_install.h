// Launching an elevated copy of this executable in install mode, for the
// steps of a connect that need administrator rights.
#ifndef APP_TUNNEL_CONTROL_CLIENT_ELEVATED_INSTALL_H_
#define APP_TUNNEL_CONTROL_CLIENT_ELEVATED_INSTALL_H_

#include <string>

#include "app/tunnel_control/common/op_error.h"
#include "app/tunnel_control/os/process_user.h"

namespace tunnel_control {

// Runs this executable with "/tunnel-install <SID>" through the "runas" verb
// and waits up to 120 s for it. Returns true when the copy exited with 0;
// otherwise `error` holds "install_failed" or "elevation_declined".
bool RunElevatedInstall(OpError* error);

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_CLIENT_ELEVATED_INSTALL_H_
