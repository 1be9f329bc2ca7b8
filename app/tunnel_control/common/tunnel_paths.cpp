#include "app/tunnel_control/common/tunnel_paths.h"

#include "app/tunnel_control/common/tunnel_names.h"
#include "app/tunnel_control/os/known_folders.h"
#include "app/tunnel_control/os/scoped_handles.h"

namespace tunnel_control {

std::wstring ExecutablePath() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = Os().GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  // A full buffer means the path was truncated; longer paths are not
  // supported.
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  return std::wstring(buffer, length);
}

std::wstring DataDirectoryPath() {
  // The block must be freed even on failure (it is null then).
  ScopedCoTaskMemory<wchar_t> folder;
  const HRESULT result =
      Os().SHGetKnownFolderPath(kProgramDataFolder, 0, nullptr, folder.Put());
  if (FAILED(result) || !folder) return std::wstring();
  std::wstring path = folder.Get();
  path += L'\\';
  path += kTunnelName;
  return path;
}

std::wstring ConfigFilePath() {
  std::wstring path = DataDirectoryPath();
  if (path.empty()) return path;
  path += L'\\';
  path += kTunnelName;
  path += L".conf";
  return path;
}

}  // namespace tunnel_control
