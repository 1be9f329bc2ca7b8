#include "app/tunnel_control/installer/install_location.h"

#include <cstddef>
#include <cwctype>
#include <vector>

#include "app/tunnel_control/os/known_folders.h"
#include "app/tunnel_control/os/scoped_handles.h"
#include "app/tunnel_control/os/well_known_sids.h"

namespace tunnel_control {
namespace {

constexpr DWORD kChangeItself = DELETE | WRITE_DAC | WRITE_OWNER;
// Adding files or folders, writing, deleting, re-permissioning.
constexpr DWORD kAppFolderForbidden = kChangeItself | FILE_ADD_FILE |
                                      FILE_ADD_SUBDIRECTORY | FILE_WRITE_EA |
                                      FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES;
constexpr DWORD kAppFileForbidden = kChangeItself | FILE_WRITE_DATA |
                                    FILE_APPEND_DATA | FILE_WRITE_EA |
                                    FILE_WRITE_ATTRIBUTES;
// Renaming or deleting the folder or its children redirects the path below.
constexpr DWORD kFolderAboveForbidden = kChangeItself | FILE_DELETE_CHILD;

constexpr wchar_t kDefaultFolderName[] = L"Varn VPN";
constexpr wchar_t kExecutableName[] = L"varn_vpn.exe";

DWORD MapGeneric(DWORD mask) {
  if (mask & GENERIC_ALL) mask |= FILE_ALL_ACCESS;
  if (mask & GENERIC_WRITE) mask |= FILE_GENERIC_WRITE;
  return mask;
}

DWORD Forbidden(LocationRole role) {
  switch (role) {
    case LocationRole::kAppFolder:
      return kAppFolderForbidden;
    case LocationRole::kAppFile:
      return kAppFileForbidden;
    case LocationRole::kFolderAbove:
      return kFolderAboveForbidden;
  }
  return kAppFolderForbidden;
}

// True when the owner is trusted, there is a DACL, and no entry that
// applies to the object itself gives anyone else one of `rights`.
bool OnlyTrustedHold(const ObjectSecurity& security, DWORD rights) {
  if (!IsTrustedPrincipal(security.owner) || !security.has_dacl) return false;
  for (const AccessEntry& entry : security.dacl) {
    if ((entry.flags & INHERIT_ONLY_ACE) != 0 || !IsAllowEntry(entry.type)) {
      continue;
    }
    // OWNER RIGHTS speaks for the owner, checked above.
    if (IsTrustedPrincipal(entry.sid) || entry.sid == kOwnerRightsSid) continue;
    if ((MapGeneric(entry.mask) & rights) != 0) return false;
  }
  return true;
}

// Opens the folder or file at `path` itself and returns its security when
// it is protected for `role`.
std::optional<ObjectSecurity> ProtectedSecurity(const std::wstring& path,
                                                LocationRole role) {
  ScopedFileHandle object =
      OpenObject(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!object) return std::nullopt;
  const std::optional<ObjectFacts> facts = QueryObject(object.Get());
  if (!facts || facts->reparse_point ||
      facts->directory != (role != LocationRole::kAppFile)) {
    return std::nullopt;
  }
  std::optional<ObjectSecurity> security = ReadSecurity(object.Get());
  if (!security || !OthersCannotChange(*security, role)) return std::nullopt;
  return security;
}

bool IsProtected(const std::wstring& path, LocationRole role) {
  return ProtectedSecurity(path, role).has_value();
}

// Every DLL in `folder`, which a process started from there may load.
bool LibrariesAreProtected(const std::wstring& folder) {
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = folder + L"\\*.dll";
  ScopedFindHandle search(Os().FindFirstFileW(pattern.c_str(), &found));
  if (!search) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::wstring path = folder + L"\\" + found.cFileName;
    if (!IsProtected(path, LocationRole::kAppFile)) return false;
  } while (Os().FindNextFileW(search.Get(), &found));
  return ::GetLastError() == ERROR_NO_MORE_FILES;
}

// Buses whose disks can be carried to another machine and changed there,
// whatever the disk reports itself as.
bool IsRemovableBus(STORAGE_BUS_TYPE bus) {
  return bus == BusTypeUsb || bus == BusTypeSd || bus == BusTypeMmc ||
         bus == BusType1394;
}

// The root of the volume holding `path` ("C:\" or a mounted folder), or an
// empty string.
std::wstring VolumeRoot(const std::wstring& path) {
  wchar_t root[MAX_PATH + 1] = {};
  if (!Os().GetVolumePathNameW(path.c_str(), root, MAX_PATH + 1)) return {};
  return root;
}

// The volume's GUID path ("\\?\Volume{...}\"), or an empty string.
std::wstring VolumeName(const std::wstring& root) {
  wchar_t name[MAX_PATH + 1] = {};
  if (!Os().GetVolumeNameForVolumeMountPointW(root.c_str(), name,
                                              MAX_PATH + 1)) {
    return {};
  }
  return name;
}

// True when the volume named `volume` sits on a removable bus, or when its
// bus cannot be read.
bool OnRemovableBus(const std::wstring& volume) {
  // The volume's device is its GUID path without the trailing separator.
  std::wstring device = volume;
  if (!device.empty() && device.back() == L'\\') device.pop_back();
  ScopedFileHandle handle(Os().CreateFileW(device.c_str(), 0,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
  if (!handle) return true;
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  STORAGE_DEVICE_DESCRIPTOR descriptor{};
  DWORD returned = 0;
  if (!Os().DeviceIoControl(handle.Get(), IOCTL_STORAGE_QUERY_PROPERTY, &query,
                            sizeof(query), &descriptor, sizeof(descriptor),
                            &returned, nullptr) ||
      returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) +
                     sizeof(descriptor.BusType)) {
    return true;
  }
  return IsRemovableBus(descriptor.BusType);
}

// True when the volume named `volume` holds the Windows directory: some
// laptops' built-in storage reports an SD or MMC bus.
bool HoldsWindows(const std::wstring& volume) {
  wchar_t windows[MAX_PATH + 1] = {};
  const UINT length = Os().GetSystemWindowsDirectoryW(windows, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return false;
  const std::wstring root = VolumeRoot(windows);
  return !root.empty() && SamePath(VolumeName(root), volume);
}

// True for "X:\\name[\\name...]": a drive letter and names without '%'
// (the service manager may expand it), stream colons, wildcards or "." and
// ".." steps, short enough for the executable's path to fit.
bool IsPlainLocalPath(const std::wstring& path) {
  if (path.size() < 4 || !std::iswalpha(path[0]) || path[1] != L':' ||
      path[2] != L'\\' ||
      path.size() + 1 + std::size(kExecutableName) > MAX_PATH ||
      path.find_first_of(L"%:/*?\"<>|", 2) != std::wstring::npos) {
    return false;
  }
  size_t start = 3;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring name = path.substr(start, end - start);
    if (name.empty() || name == L"." || name == L".." || name.back() == L' ' ||
        name.back() == L'.') {
      return false;
    }
    start = end + 1;
  }
  return true;
}

// [Program Files]\Varn VPN, or an empty string.
std::wstring DefaultInstallFolder() {
  ScopedCoTaskMemory<wchar_t> folder;
  const HRESULT result =
      Os().SHGetKnownFolderPath(kProgramFilesFolder, 0, nullptr, folder.Put());
  if (FAILED(result) || !folder) return std::wstring();
  return std::wstring(folder.Get()) + L"\\" + kDefaultFolderName;
}

// One folder of an install path, from the volume root down.
struct PathFolder {
  std::wstring path;
  // Its owner and DACL; nullopt when it does not exist yet (and so neither
  // does any folder below it).
  std::optional<ObjectSecurity> security;
  bool plain_folder = true;  // a directory and no reparse point
};

// The rules of CheckInstallFolder over `folders`, the last being the install
// folder.

InstallFolderCheck JudgeInstallPath(const std::vector<PathFolder>& folders) {
  using V = InstallFolderVerdict;
  if (folders.size() < 2) return {V::kUnsafePath, std::wstring()};
  ObjectSecurity parent;
  for (size_t i = 0; i < folders.size(); ++i) {
    const PathFolder& folder = folders[i];
    const bool install_folder = i + 1 == folders.size();
    const bool exists = folder.security.has_value();
    if (exists && !folder.plain_folder) {
      return {V::kNotPlainFolder, folder.path};
    }
    if (!exists && i == 0) return {V::kUnreadable, folder.path};
    // Windows Installer's service makes the missing folders as SYSTEM.
    const ObjectSecurity security =
        exists ? *folder.security : InheritedFolderSecurity(parent, kSystemSid);
    if (i > 0 && !OnlyTrustedCouldHaveMadeIt(security, parent)) {
      return {V::kOthersCouldMakeIt, folder.path};
    }
    if (!install_folder) {
      if (!OthersCannotChange(security, LocationRole::kFolderAbove)) {
        return {
            exists ? V::kFolderAboveUnprotected : V::kWouldInheritUnprotected,
            folder.path};
      }
    } else if (exists) {
      // The package's lock replaces its DACL and owner; an owner the lock
      // would have to take it from may have placed anything there.
      if (!IsTrustedPrincipal(security.owner))
        return {V::kUntrustedOwner, folder.path};
    } else if (!OthersCannotChange(security, LocationRole::kAppFolder)) {
      // Between its creation and the lock, others could open it.
      return {V::kWouldInheritUnprotected, folder.path};
    }
    parent = security;
  }
  return {V::kAccepted, folders.back().path};
}

}  // namespace

bool OthersCannotChange(const ObjectSecurity& security, LocationRole role) {
  return OnlyTrustedHold(security, Forbidden(role));
}

bool OthersCanCreateFolders(const ObjectSecurity& security) {
  return !OnlyTrustedHold(security, FILE_ADD_SUBDIRECTORY);
}

bool OnlyTrustedCouldHaveMadeIt(const ObjectSecurity& security,
                                const ObjectSecurity& parent) {
  return security.owner == kTrustedInstallerSid ||
         !OthersCanCreateFolders(parent);
}

// Microsoft documentation, "ACE Inheritance Rules": a new folder gets the
// parent's container-inherit entries (as its own entries only when
// no-propagate is set, CREATOR OWNER becoming the owner) and its
// object-inherit-only entries as inherit-only ones for its files.
ObjectSecurity InheritedFolderSecurity(const ObjectSecurity& parent,
                                       const std::wstring& creator) {
  ObjectSecurity folder{creator, parent.has_dacl, {}};
  constexpr BYTE kInheritFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  for (const AccessEntry& entry : parent.dacl) {
    const bool containers = (entry.flags & CONTAINER_INHERIT_ACE) != 0;
    const bool no_propagate = (entry.flags & NO_PROPAGATE_INHERIT_ACE) != 0;
    if (!containers) {
      if ((entry.flags & OBJECT_INHERIT_ACE) != 0 && !no_propagate) {
        folder.dacl.push_back(
            {entry.type,
             static_cast<BYTE>(OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE |
                               INHERITED_ACE),
             entry.mask, entry.sid});
      }
      continue;
    }
    const BYTE passed_on = no_propagate ? 0 : entry.flags & kInheritFlags;
    if (entry.sid == kCreatorOwnerSid) {
      folder.dacl.push_back({entry.type, INHERITED_ACE, entry.mask, creator});
      if (passed_on != 0) {
        folder.dacl.push_back(
            {entry.type,
             static_cast<BYTE>(passed_on | INHERIT_ONLY_ACE | INHERITED_ACE),
             entry.mask, entry.sid});
      }
      continue;
    }
    folder.dacl.push_back({entry.type,
                           static_cast<BYTE>(passed_on | INHERITED_ACE),
                           entry.mask, entry.sid});
  }
  return folder;
}

std::wstring ProtectedExecutablePath(const std::wstring& executable) {
  // Opened through any links, so the final path is where the file really
  // is; that path, not the one started, goes into the service.
  ScopedFileHandle exe(
      Os().CreateFileW(executable.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, 0, nullptr));
  if (!exe) return std::wstring();
  const std::wstring path = FinalPath(exe.Get());
  // A drive letter, a separator and a name; network paths come back as
  // "\\server\...". The service manager may expand '%'.
  if (path.size() < 4 || path.size() >= MAX_PATH || path[1] != L':' ||
      path[2] != L'\\' || path.find(L'%') != std::wstring::npos) {
    return std::wstring();
  }
  const std::wstring root = VolumeRoot(path);
  const std::wstring volume = root.empty() ? root : VolumeName(root);
  if (volume.empty() || Os().GetDriveTypeW(root.c_str()) != DRIVE_FIXED ||
      (!HoldsWindows(volume) && OnRemovableBus(volume))) {
    return std::wstring();
  }
  const std::optional<ObjectFacts> facts = QueryObject(exe.Get());
  const std::optional<ObjectSecurity> security = ReadSecurity(exe.Get());
  if (!facts || facts->directory || !security ||
      !OthersCannotChange(*security, LocationRole::kAppFile)) {
    return std::wstring();
  }

  std::wstring folder = path.substr(0, path.rfind(L'\\'));
  if (!LibrariesAreProtected(folder)) return std::wstring();
  LocationRole role = LocationRole::kAppFolder;
  std::optional<ObjectSecurity> below;  // the folder the walk came from
  while (true) {
    const bool root = folder.size() == 2;
    const std::optional<ObjectSecurity> security =
        ProtectedSecurity(root ? folder + L"\\" : folder, role);
    if (!security ||
        (below && !OnlyTrustedCouldHaveMadeIt(*below, *security))) {
      return std::wstring();
    }
    if (root) break;
    below = security;
    folder = folder.substr(0, folder.rfind(L'\\'));
    role = LocationRole::kFolderAbove;
  }
  return path;
}

InstallFolderCheck CheckInstallFolder(const std::wstring& install_folder) {
  using V = InstallFolderVerdict;
  std::wstring path = install_folder;
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  if (!IsPlainLocalPath(path)) return {V::kUnsafePath, install_folder};
  const std::wstring default_folder = DefaultInstallFolder();
  if (!default_folder.empty() && SamePath(path, default_folder)) {
    return {V::kDefaultFolder, path};
  }

  const std::wstring root = path.substr(0, 3);
  const std::wstring volume = VolumeName(root);
  if (volume.empty() || Os().GetDriveTypeW(root.c_str()) != DRIVE_FIXED ||
      (!HoldsWindows(volume) && OnRemovableBus(volume))) {
    return {V::kUnsafePath, path};
  }

  // From the root down; once a folder is missing, so is every one below.
  std::vector<PathFolder> folders{{root, std::nullopt, true}};
  for (size_t end = path.find(L'\\', 3); end != std::wstring::npos;
       end = path.find(L'\\', end + 1)) {
    folders.push_back({path.substr(0, end), std::nullopt, true});
  }
  folders.push_back({path, std::nullopt, true});
  for (PathFolder& folder : folders) {
    ScopedFileHandle object =
        OpenObject(folder.path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    const DWORD error = object ? ERROR_SUCCESS : ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) break;
    if (!object) return {V::kUnreadable, folder.path};
    const std::optional<ObjectFacts> facts = QueryObject(object.Get());
    folder.security = ReadSecurity(object.Get());
    if (!facts || !folder.security) return {V::kUnreadable, folder.path};
    folder.plain_folder = facts->directory && !facts->reparse_point;
    // Nothing below a link is read: the path would land elsewhere.
    if (!folder.plain_folder) break;
  }
  return JudgeInstallPath(folders);
}

std::wstring DescribeInstallFolderCheck(const std::wstring& install_folder,
                                        const InstallFolderCheck& check) {
  using V = InstallFolderVerdict;
  const std::wstring& f = check.folder;
  switch (check.verdict) {
    case V::kAccepted:
      return L"the install folder " + install_folder +
             L" passes the location rules";
    case V::kDefaultFolder:
      return L"the install folder " + install_folder +
             L" is the default one, which Windows protects";
    default:
      break;
  }
  std::wstring reason;
  switch (check.verdict) {
    case V::kUnsafePath:
      reason = L"not a plain local path on a fixed, non-removable drive";
      break;
    case V::kUnreadable:
      reason = L"could not read " + f;
      break;
    case V::kNotPlainFolder:
      reason = f + L" is a file, a junction or a mount point";
      break;
    case V::kOthersCouldMakeIt:
      reason =
          L"users other than the administrators may create folders "
          L"where " +
          f + L" is, so it could be theirs";
      break;
    case V::kFolderAboveUnprotected:
      reason =
          L"users other than the administrators may rename, delete or "
          L"re-permission " +
          f;
      break;
    case V::kUntrustedOwner:
      reason = f +
               L" exists and is owned by someone other than SYSTEM, the "
               L"Administrators or TrustedInstaller";
      break;
    case V::kWouldInheritUnprotected:
      reason = f +
               L", once created, would let users other than the "
               L"administrators change it";
      break;
    default:
      break;
  }
  return L"refused the install folder " + install_folder + L": " + reason +
         L". Install into a folder only administrators can change, such as "
         L"one under Program Files";
}

}  // namespace tunnel_control
