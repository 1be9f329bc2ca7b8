#include "app/tunnel_control/data_directory.h"

#include "app/tunnel_control/file_objects.h"
#include "app/tunnel_control/platform.h"
#include "app/tunnel_control/scoped_handles.h"

namespace tunnel_control {
namespace {

// FOLDERID_ProgramData, spelled out so no GUID library has to be linked.
constexpr GUID kProgramDataFolder = {
    0x62AB5D82,
    0xFDC1,
    0x4DC3,
    {0xA9, 0xDD, 0x07, 0x0D, 0x1D, 0x49, 0x5D, 0x97}};

// The user's entry on the directory itself (0x1200AB: list, add file, read
// attributes and extended attributes, traverse, read permissions,
// synchronize) and the modify entry (0x1301BF) for the files in it.
constexpr wchar_t kDataDirectorySddlPrefix[] =
    L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200AB;;;";
constexpr wchar_t kDataDirectorySddlFiles[] = L")(A;OIIO;0x1301BF;;;";

constexpr char kMarkerText[] =
    "This folder belongs to the Varn VPN tunnel service.\r\n";

constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A descriptor made from SDDL, released on every path.
class Descriptor {
 public:
  explicit Descriptor(const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (Os().ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
      block_.Reset(descriptor);
    }
  }
  PSECURITY_DESCRIPTOR Get() const { return block_.Get(); }
  explicit operator bool() const { return block_.IsValid(); }

 private:
  ScopedLocalMemory block_;
};

bool IsSystemOrAdministrators(const std::wstring& sid) {
  return sid == kSystemSid || sid == kAdministratorsSid;
}

// Sets owner and protected DACL of `descriptor` on the open `object`.
bool ApplyDescriptor(HANDLE object, PSECURITY_DESCRIPTOR descriptor) {
  BOOL dacl_present = FALSE;
  BOOL dacl_defaulted = FALSE;
  PACL dacl = nullptr;
  BOOL owner_defaulted = FALSE;
  PSID owner = nullptr;
  if (!Os().GetSecurityDescriptorDacl(descriptor, &dacl_present, &dacl,
                                      &dacl_defaulted) ||
      !dacl_present || dacl == nullptr ||
      !Os().GetSecurityDescriptorOwner(descriptor, &owner, &owner_defaulted) ||
      owner == nullptr) {
    return false;
  }
  return Os().SetSecurityInfo(object, SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION |
                                  DACL_SECURITY_INFORMATION |
                                  PROTECTED_DACL_SECURITY_INFORMATION,
                              owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// Opens the entry at `path` itself with as much access as it gets: its own
// DACL may shut the administrators out, while the directory's delete-child
// right still lets them remove it, and a process holding it open without
// delete sharing blocks only the deletion.
ScopedFileHandle OpenEntry(const std::wstring& path) {
  constexpr DWORD kAttempts[] = {
      DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
      READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
      DELETE | FILE_READ_ATTRIBUTES,
  };
  for (DWORD access : kAttempts) {
    ScopedFileHandle entry = OpenObject(path, access, kShareAll);
    if (entry) return entry;
  }
  return ScopedFileHandle();
}

// A plain, single-named file of SYSTEM or the Administrators.
bool IsTrustedPlainFile(HANDLE file) {
  const std::optional<ObjectFacts> facts = QueryObject(file);
  const std::optional<ObjectSecurity> security = ReadSecurity(file);
  return facts && !facts->directory && !facts->reparse_point &&
         facts->links == 1 && security &&
         IsSystemOrAdministrators(security->owner);
}

// Keeps a plain, single-named file that SYSTEM or the Administrators made
// (the marker, the tunnel's log) and removes anything else. The previous
// user's files go: their owner could always re-grant itself access.
bool SettleEntry(const std::wstring& path, const std::wstring& name) {
  ScopedFileHandle entry = OpenEntry(path);
  if (!entry) return false;
  const std::wstring config_name = std::wstring(kTunnelName) + L".conf";
  if (!SamePath(name, config_name) && IsTrustedPlainFile(entry.Get())) {
    return true;
  }
  if (DeleteObject(entry.Get())) return true;
  const std::optional<ObjectFacts> facts = QueryObject(entry.Get());
  const bool plain_file =
      facts && !facts->directory && !facts->reparse_point && facts->links == 1;
  // Held open without delete sharing, e.g. the configuration by the running
  // tunnel: it stays, but only SYSTEM and the Administrators can open it
  // from now on, and the next install removes it.
  if (!plain_file) return false;
  const Descriptor locked(kDirectoryMarkerSddl);
  return locked && ApplyDescriptor(entry.Get(), locked.Get());
}

bool SettleContents(const std::wstring& directory) {
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = directory + L"\\*";
  ScopedFindHandle search(Os().FindFirstFileW(pattern.c_str(), &found));
  if (!search) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  bool settled = true;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (!SettleEntry(directory + L"\\" + name, name)) settled = false;
  } while (Os().FindNextFileW(search.Get(), &found));
  return settled && ::GetLastError() == ERROR_NO_MORE_FILES;
}

bool PlaceMarker(const std::wstring& directory) {
  const Descriptor descriptor(kDirectoryMarkerSddl);
  if (!descriptor) return false;
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.Get(), FALSE};
  const std::wstring path = directory + L"\\" + kDirectoryMarkerName;
  ScopedFileHandle marker(Os().CreateFileW(path.c_str(), GENERIC_WRITE, 0,
                                           &attributes, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
  // One kept by SettleContents is SYSTEM's or the Administrators'.
  if (!marker) return ::GetLastError() == ERROR_FILE_EXISTS;
  DWORD written = 0;
  Os().WriteFile(marker.Get(), kMarkerText, sizeof(kMarkerText) - 1, &written,
                 nullptr);
  return true;
}

// Creates the tunnel's log with its own security, or gives a kept one that
// security. A name that appeared in between (the user may add files) is
// removed once and the creation tried again.
bool PlaceLog(const std::wstring& directory, const std::wstring& user_sid) {
  const Descriptor descriptor(TunnelLogSddl(user_sid));
  if (!descriptor) return false;
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.Get(), FALSE};
  const std::wstring path = directory + L"\\" + kTunnelLogName;
  for (int attempt = 0; attempt < 2; ++attempt) {
    ScopedFileHandle created(Os().CreateFileW(path.c_str(), READ_CONTROL, 0,
                                              &attributes, CREATE_NEW,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (created) return true;
    if (::GetLastError() != ERROR_FILE_EXISTS) return false;
    ScopedFileHandle existing = OpenEntry(path);
    if (!existing) return false;
    if (IsTrustedPlainFile(existing.Get())) {
      return ApplyDescriptor(existing.Get(), descriptor.Get());
    }
    if (!DeleteObject(existing.Get())) return false;
  }
  return false;
}

// Opens the data directory itself and confirms it is the real one: a plain
// directory, no link, at the expected path. Without delete sharing, so
// nobody can rename it while the handle is open.
ScopedFileHandle OpenRealDirectory(const std::wstring& directory,
                                   DWORD access) {
  ScopedFileHandle handle =
      OpenObject(directory, access, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!handle) return handle;
  const std::optional<ObjectFacts> facts = QueryObject(handle.Get());
  if (!facts || !facts->directory || facts->reparse_point ||
      !SamePath(FinalPath(handle.Get()), directory)) {
    return ScopedFileHandle();
  }
  return handle;
}

}  // namespace

std::wstring DataDirectoryPath() {
  PWSTR folder = nullptr;
  const HRESULT result =
      Os().SHGetKnownFolderPath(kProgramDataFolder, 0, nullptr, &folder);
  // The block must be freed even on failure (it is null then).
  ScopedCoTaskMemory folder_owner(folder);
  if (FAILED(result) || folder == nullptr) return std::wstring();
  std::wstring path = folder;
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

std::wstring TunnelLogSddl(const std::wstring& user_sid) {
  return L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;" + user_sid + L")";
}

std::wstring DataDirectorySddl(const std::wstring& user_sid) {
  return kDataDirectorySddlPrefix + user_sid + kDataDirectorySddlFiles +
         user_sid + L")";
}

DirectoryResult PrepareDataDirectory(const std::wstring& directory,
                                     const std::wstring& user_sid) {
  const Descriptor descriptor(DataDirectorySddl(user_sid));
  if (!descriptor) return DirectoryResult::kNotSecured;
  // A new directory is protected from the moment it exists.
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.Get(), FALSE};
  if (!Os().CreateDirectoryW(directory.c_str(), &attributes) &&
      ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return DirectoryResult::kRefused;
  }
  ScopedFileHandle handle = OpenRealDirectory(
      directory, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_LIST_DIRECTORY |
                     FILE_READ_ATTRIBUTES);
  if (!handle) return DirectoryResult::kRefused;
  // Someone else's folder is not taken over: its maker may hold handles
  // that no DACL change revokes.
  const std::optional<ObjectSecurity> security = ReadSecurity(handle.Get());
  if (!security || !IsSystemOrAdministrators(security->owner)) {
    return DirectoryResult::kRefused;
  }
  // Links inside go before the DACL change passes the new inherited entries
  // on to what the directory holds, and whatever the previous user added
  // while its old rights still applied goes after it.
  if (!SettleContents(directory) ||
      !ApplyDescriptor(handle.Get(), descriptor.Get()) ||
      !SettleContents(directory) || !PlaceMarker(directory) ||
      !PlaceLog(directory, user_sid)) {
    return DirectoryResult::kNotSecured;
  }
  return DirectoryResult::kReady;
}

void DeleteConfigInDataDirectory() {
  const std::wstring directory = DataDirectoryPath();
  if (directory.empty()) return;
  // Held open while the file goes, so the directory cannot be swapped.
  ScopedFileHandle real =
      OpenRealDirectory(directory, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES);
  if (!real) return;
  ScopedFileHandle config =
      OpenObject(ConfigFilePath(), DELETE | FILE_READ_ATTRIBUTES, kShareAll);
  if (config) DeleteObject(config.Get());
}

}  // namespace tunnel_control
