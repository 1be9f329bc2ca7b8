#include "app/tunnel_control/data_directory.h"

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

constexpr wchar_t kDataDirectorySddlPrefix[] =
    L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301BF;;;";

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

std::wstring DataDirectorySddl(const std::wstring& user_sid) {
  return kDataDirectorySddlPrefix + user_sid + L")";
}

bool ProtectDataDirectory(const std::wstring& directory,
                          const std::wstring& user_sid) {
  const std::wstring sddl = DataDirectorySddl(user_sid);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!Os().ConvertStringSecurityDescriptorToSecurityDescriptorW(
          sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return false;
  }
  ScopedLocalMemory descriptor_owner(descriptor);

  BOOL dacl_present = FALSE;
  BOOL dacl_defaulted = FALSE;
  PACL dacl = nullptr;
  if (!Os().GetSecurityDescriptorDacl(descriptor, &dacl_present, &dacl,
                                      &dacl_defaulted) ||
      !dacl_present || dacl == nullptr) {
    return false;
  }
  BOOL owner_defaulted = FALSE;
  PSID owner = nullptr;
  if (!Os().GetSecurityDescriptorOwner(descriptor, &owner, &owner_defaulted) ||
      owner == nullptr) {
    return false;
  }

  // The API takes a mutable name.
  std::wstring name = directory;
  return Os().SetNamedSecurityInfoW(
             name.data(), SE_FILE_OBJECT,
             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                 PROTECTED_DACL_SECURITY_INFORMATION,
             owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

}  // namespace tunnel_control
