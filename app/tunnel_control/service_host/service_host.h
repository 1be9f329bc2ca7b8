// The body of the "/service" run mode: hands the configuration file to the
// tunnel library, which runs the whole service, and holds that file and the
// library's log while it runs.
#ifndef APP_TUNNEL_CONTROL_SERVICE_HOST_SERVICE_HOST_H_
#define APP_TUNNEL_CONTROL_SERVICE_HOST_SERVICE_HOST_H_

#include <string>

#include "app/tunnel_control/common/tunnel_facts.h"
#include "app/tunnel_control/os/scoped_handles.h"

namespace tunnel_control {

// Returns the path of tunnel.dll beside `executable`, or an empty string
// when the path has no backslash.
std::wstring TunnelLibraryPath(const std::wstring& executable);

// Opens the configuration at `config_path` itself, never through a link, and
// returns it held so that, until the handle closes, it can be read but not
// written, deleted, renamed or replaced. Returns no handle unless it is a
// plain file with one name at that path, in a real directory (no junction
// or mount point on the way): SYSTEM reads it.
ScopedFileHandle HoldConfig(const std::wstring& config_path);

// Returns log.bin in `folder` held so that, until the handle closes, it can
// be read and written but not deleted, renamed or replaced. Anything at that
// name but a plain file with one name of SYSTEM, the Administrators or this
// process's own account is first replaced by a fresh file of this process's
// own. Nothing is read from it. No handle when that cannot be done.
ScopedFileHandle HoldLog(const std::wstring& folder);

// Loads tunnel.dll from the executable's folder and runs its service entry
// with `config_path` (the default configuration file when empty), holding
// the configuration and the log beside it until the entry returns. Returns a
// ServiceExitCode once the library has stopped the service.
int RunServiceMode(const std::wstring& config_path);

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_SERVICE_HOST_SERVICE_HOST_H_
