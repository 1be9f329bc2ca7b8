#include "app/tunnel_control/service_host/service_host.h"

#include "app/tunnel_control/common/tunnel_paths.h"
#include "app/tunnel_control/os/file_objects.h"
#include "app/tunnel_control/os/platform.h"

namespace tunnel_control {
namespace {

// The library's entry: the wide configuration path in, non-zero on success.
using TunnelServiceEntry = BOOL(WINAPI*)(LPCWSTR config_path);

constexpr char kTunnelServiceExport[] = "WireGuardTunnelService";

}  // namespace

bool IsPlainConfigPath(const std::wstring& config_path) {
  constexpr DWORD kShareAll =
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const size_t backslash = config_path.rfind(L'\\');
  if (backslash == std::wstring::npos) return false;
  const std::wstring folder = config_path.substr(0, backslash);
  ScopedFileHandle directory =
      OpenObject(folder, FILE_READ_ATTRIBUTES, kShareAll);
  if (!directory) return false;
  const std::optional<ObjectFacts> folder_facts = QueryObject(directory.Get());
  if (!folder_facts || !folder_facts->directory ||
      folder_facts->reparse_point ||
      !SamePath(FinalPath(directory.Get()), folder)) {
    return false;
  }
  ScopedFileHandle file =
      OpenObject(config_path, FILE_READ_ATTRIBUTES, kShareAll);
  // A missing file is the library's to report.
  if (!file) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  const std::optional<ObjectFacts> facts = QueryObject(file.Get());
  return facts && !facts->directory && !facts->reparse_point &&
         facts->links == 1 && SamePath(FinalPath(file.Get()), config_path);
}

std::wstring TunnelLibraryPath(const std::wstring& executable) {
  const size_t backslash = executable.rfind(L'\\');
  if (backslash == std::wstring::npos) return std::wstring();
  return executable.substr(0, backslash) + L"\\tunnel.dll";
}

int RunServiceMode(const std::wstring& config_path) {
  const std::wstring config =
      config_path.empty() ? ConfigFilePath() : config_path;
  const std::wstring executable = ExecutablePath();
  if (config.empty() || executable.empty()) return kServiceNoPath;
  const std::wstring library_path = TunnelLibraryPath(executable);
  if (library_path.empty()) return kServiceNoPath;
  if (!IsPlainConfigPath(config)) return kServiceConfigRefused;

  // Never unloaded: the process ends as soon as the entry returns. Its own
  // dependencies come from its folder and System32, never from the current
  // folder or PATH.
  HMODULE library = Os().LoadLibraryExW(
      library_path.c_str(), nullptr,
      LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (library == nullptr) return kServiceLibraryMissing;
  const auto entry = reinterpret_cast<TunnelServiceEntry>(
      Os().GetProcAddress(library, kTunnelServiceExport));
  if (entry == nullptr) return kServiceExportMissing;
  return entry(config.c_str()) ? kServiceSucceeded : kServiceTunnelFailed;
}

}  // namespace tunnel_control
