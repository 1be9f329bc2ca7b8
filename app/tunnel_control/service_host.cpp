#include "app/tunnel_control/service_host.h"

#include "app/tunnel_control/data_directory.h"
#include "app/tunnel_control/platform.h"
#include "app/tunnel_control/service_installer.h"

namespace tunnel_control {
namespace {

// The library's entry: the wide configuration path in, non-zero on success.
using TunnelServiceEntry = BOOL(WINAPI*)(LPCWSTR config_path);

constexpr char kTunnelServiceExport[] = "WireGuardTunnelService";

}  // namespace

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

  // Never unloaded: the process ends as soon as the entry returns.
  HMODULE library = Os().LoadLibraryExW(library_path.c_str(), nullptr,
                                        LOAD_WITH_ALTERED_SEARCH_PATH);
  if (library == nullptr) return kServiceLibraryMissing;
  const auto entry = reinterpret_cast<TunnelServiceEntry>(
      Os().GetProcAddress(library, kTunnelServiceExport));
  if (entry == nullptr) return kServiceExportMissing;
  return entry(config.c_str()) ? kServiceSucceeded : kServiceTunnelFailed;
}

}  // namespace tunnel_control
