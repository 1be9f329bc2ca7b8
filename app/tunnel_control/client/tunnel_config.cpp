#include "app/tunnel_control/client/tunnel_config.h"

#include <string>

#include "app/tunnel_control/common/error_texts.h"
#include "app/tunnel_control/common/tunnel_paths.h"
#include "app/tunnel_control/os/platform.h"
#include "app/tunnel_control/os/scoped_handles.h"

namespace tunnel_control {

bool WriteTunnelConfig(std::string_view config, OpError* error) {
  const std::wstring path = ConfigFilePath();
  if (path.empty()) {
    SetOpError(error, "config_write_failed", "Could not resolve %ProgramData%");
    return false;
  }
  // An existing file keeps its owner and DACL when reopened, and may be a
  // link to another file: never write into it, always start a new one.
  DWORD last_error = ERROR_SUCCESS;
  if (!Os().DeleteFileW(path.c_str()) &&
      ::GetLastError() != ERROR_FILE_NOT_FOUND) {
    last_error = ::GetLastError();
  }
  ScopedFileHandle file;
  if (last_error == ERROR_SUCCESS) {
    file.Reset(Os().CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) last_error = ::GetLastError();
  }
  if (!file) {
    SetOpError(
        error, "config_write_failed",
        WithErrorNumber("Could not write the tunnel config", last_error));
    return false;
  }
  // One call with a 32-bit count: a text of 4 GiB or more cannot match the
  // count written below and ends as a short write.
  DWORD written = 0;
  const BOOL wrote =
      Os().WriteFile(file.Get(), config.data(),
                     static_cast<DWORD>(config.size()), &written, nullptr);
  file.Reset();
  if (!wrote || written != config.size()) {
    Os().DeleteFileW(path.c_str());
    SetOpError(error, "config_write_failed",
               "Short write while saving the tunnel config");
    return false;
  }
  return true;
}

void DeleteTunnelConfig() {
  const std::wstring path = ConfigFilePath();
  if (!path.empty()) Os().DeleteFileW(path.c_str());
}

}  // namespace tunnel_control
