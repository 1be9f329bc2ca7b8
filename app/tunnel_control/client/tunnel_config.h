// Writing and deleting the tunnel configuration file in the data directory.
#ifndef APP_TUNNEL_CONTROL_CLIENT_TUNNEL_CONFIG_H_
#define APP_TUNNEL_CONTROL_CLIENT_TUNNEL_CONFIG_H_

#include <string_view>

#include "app/tunnel_control/common/op_error.h"
#include "win/windows_api.h"

namespace tunnel_control {

// Replaces the configuration file with exactly the bytes of `config`: the
// old file is deleted and a new one created, owned by this process's user
// (also when elevated) and carrying the directory's inherited entries only.
// Returns true when the whole text is in the file; otherwise fills `error`
// ("config_write_failed", with the number of the error that stopped the
// deletion or the creation, also stored in `failure` when given) and leaves
// no partial file behind.
bool WriteTunnelConfig(std::string_view config, OpError* error,
                       DWORD* failure = nullptr);

// Deletes the configuration file if it can. Reports nothing; returns 0 when
// the file is gone (or was never there), else the deletion's error.
DWORD DeleteTunnelConfig();

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_CLIENT_TUNNEL_CONFIG_H_
