#include "app/tunnel_control/tunnel_config.h"

#include <string>

#include "app/tunnel_control/data_directory.h"
#include "app/tunnel_control/error_texts.h"
#include "app/tunnel_control/platform.h"
#include "app/tunnel_control/scoped_handles.h"

namespace tunnel_control {

bool WriteTunnelConfig(std::string_view config, OpError* error) {
  const std::wstring path = ConfigFilePath();
  if (path.empty()) {
    SetOpError(error, "config_write_failed", "Could not resolve %ProgramData%");
    return false;
  }
  ScopedFileHandle file(Os().CreateFileW(path.c_str(), GENERIC_WRITE, 0,
                                         nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD last_error = ::GetLastError();
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
