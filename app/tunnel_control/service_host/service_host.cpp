#include "app/tunnel_control/service_host/service_host.h"

#include <optional>

#include "app/tunnel_control/common/tunnel_names.h"
#include "app/tunnel_control/common/tunnel_paths.h"
#include "app/tunnel_control/os/file_objects.h"
#include "app/tunnel_control/os/platform.h"
#include "app/tunnel_control/os/process_user.h"
#include "app/tunnel_control/os/random_text.h"
#include "app/tunnel_control/os/well_known_sids.h"

namespace tunnel_control {
namespace {

// The library's entry: the wide configuration path in, non-zero on success.
using TunnelServiceEntry = BOOL(WINAPI*)(LPCWSTR config_path);

constexpr char kTunnelServiceExport[] = "WireGuardTunnelService";

constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// How the host holds the files it hands to the library until the library
// returns. Only read, write and delete access take part in share checks, so
// the hold asks for reading (and never reads): without delete sharing,
// nobody can open the file for DELETE to delete or rename it, and nobody can
// rename another file over it while it is open. Holding DELETE instead would
// block nothing more and force the library's own opens to share deletion.
constexpr DWORD kHoldAccess =
    FILE_READ_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
// The configuration may be read, not written, while the library runs.
constexpr DWORD kConfigShare = FILE_SHARE_READ;
// The library opens, writes and maps its log.
constexpr DWORD kLogShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Attempts at an unused random name for a fresh log.
constexpr int kFreshNameAttempts = 3;

// True when `folder` is a real directory at that path: no junction or mount
// point on the way.
bool IsRealFolder(const std::wstring& folder) {
  ScopedFileHandle directory =
      OpenObject(folder, FILE_READ_ATTRIBUTES, kShareAll);
  if (!directory) return false;
  const std::optional<ObjectFacts> facts = QueryObject(directory.Get());
  return facts && facts->directory && !facts->reparse_point &&
         SamePath(FinalPath(directory.Get()), folder);
}

// A plain file with one name, at `path` itself.
bool IsPlainFileAt(HANDLE file, const std::wstring& path) {
  const std::optional<ObjectFacts> facts = QueryObject(file);
  return facts && !facts->directory && !facts->reparse_point &&
         facts->links == 1 && SamePath(FinalPath(file), path);
}

// A log SYSTEM may write: a plain file with one name at `path`, of SYSTEM,
// the Administrators or `self`, the account this process runs as (SYSTEM
// itself when run by the service manager; a process writing into its own
// account's file gives nobody anything).
bool IsTrustedLog(HANDLE log, const std::wstring& path,
                  const std::wstring& self) {
  if (!IsPlainFileAt(log, path)) return false;
  const std::optional<ObjectSecurity> security = ReadSecurity(log);
  return security && (IsSystemOrAdministrators(security->owner) ||
                      (!self.empty() && security->owner == self));
}

// Puts a fresh, empty file of `self` at `path` in one step, whatever is there
// now: it is made under an unguessable name beside it, owned by `self` from
// the start and with the access list its folder passes on, then renamed over
// the name. Never delete and re-create: the name would be free in between.
bool ReplaceLog(const std::wstring& path, const std::wstring& self) {
  ScopedLocalMemory<void> descriptor;
  if (self.empty() ||
      !Os().ConvertStringSecurityDescriptorToSecurityDescriptorW(
          (L"O:" + self).c_str(), SDDL_REVISION_1, descriptor.Put(), nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.Get(), FALSE};
  for (int attempt = 0; attempt < kFreshNameAttempts; ++attempt) {
    const std::wstring suffix = RandomHex();
    if (suffix.empty()) return false;
    const std::wstring fresh_path = path + L"." + suffix;
    ScopedFileHandle fresh(Os().CreateFileW(
        fresh_path.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0,
        &attributes, CREATE_NEW,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!fresh) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      return false;
    }
    // Fails while anyone holds the old file open: then it stays as it is.
    if (RenameObject(fresh.Get(), path, true)) return true;
    DeleteObject(fresh.Get());
    return false;
  }
  return false;
}

}  // namespace

ScopedFileHandle HoldConfig(const std::wstring& config_path) {
  const size_t backslash = config_path.rfind(L'\\');
  if (backslash == std::wstring::npos ||
      !IsRealFolder(config_path.substr(0, backslash))) {
    return {};
  }
  ScopedFileHandle config = OpenObject(config_path, kHoldAccess, kConfigShare);
  if (!config || !IsPlainFileAt(config.Get(), config_path)) return {};
  return config;
}

ScopedFileHandle HoldLog(const std::wstring& folder) {
  const std::wstring path = folder + L"\\" + kTunnelLogName;
  const std::wstring self = CurrentUserSidString();
  ScopedFileHandle log = OpenObject(path, kHoldAccess, kLogShare);
  if (log && IsTrustedLog(log.Get(), path, self)) return log;
  log.Reset();
  if (!ReplaceLog(path, self)) return {};
  log = OpenObject(path, kHoldAccess, kLogShare);
  if (!log || !IsTrustedLog(log.Get(), path, self)) return {};
  return log;
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
  // Both stay held until the library returns.
  const ScopedFileHandle held_config = HoldConfig(config);
  if (!held_config) return kServiceConfigRefused;
  const ScopedFileHandle held_log =
      HoldLog(config.substr(0, config.rfind(L'\\')));
  if (!held_log) return kServiceLogRefused;

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
