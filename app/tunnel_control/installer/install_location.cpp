#include "app/tunnel_control/installer/install_location.h"

#include <cstddef>

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

bool IsTrusted(const std::wstring& sid) {
  return sid == kSystemSid || sid == kAdministratorsSid ||
         sid == kTrustedInstallerSid;
}

bool IsAllowEntry(BYTE type) {
  return type == ACCESS_ALLOWED_ACE_TYPE ||
         type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
         type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
         type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
}

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

// Opens the folder or file at `path` itself and checks it for `role`.
bool IsProtected(const std::wstring& path, LocationRole role) {
  ScopedFileHandle object =
      OpenObject(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!object) return false;
  const std::optional<ObjectFacts> facts = QueryObject(object.Get());
  if (!facts || facts->reparse_point ||
      facts->directory != (role != LocationRole::kAppFile)) {
    return false;
  }
  const std::optional<ObjectSecurity> security = ReadSecurity(object.Get());
  return security && OthersCannotChange(*security, role);
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

}  // namespace

bool OthersCannotChange(const ObjectSecurity& security, LocationRole role) {
  if (!IsTrusted(security.owner) || !security.has_dacl) return false;
  const DWORD forbidden = Forbidden(role);
  for (const AccessEntry& entry : security.dacl) {
    if ((entry.flags & INHERIT_ONLY_ACE) != 0 || !IsAllowEntry(entry.type)) {
      continue;
    }
    // OWNER RIGHTS speaks for the owner, checked above.
    if (IsTrusted(entry.sid) || entry.sid == kOwnerRightsSid) continue;
    if ((MapGeneric(entry.mask) & forbidden) != 0) return false;
  }
  return true;
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
  while (true) {
    const bool root = folder.size() == 2;
    if (!IsProtected(root ? folder + L"\\" : folder, role)) {
      return std::wstring();
    }
    if (root) break;
    folder = folder.substr(0, folder.rfind(L'\\'));
    role = LocationRole::kFolderAbove;
  }
  return path;
}

}  // namespace tunnel_control
