// The seam between the tunnel code and Windows.
//
// Every Windows call that touches the service manager, security, files, the
// token, the shell, library loading or the clock goes through the table
// returned by Os(). The table holds pointers with the exact Win32
// signatures, so the calling code reads like plain Win32:
//
//   SC_HANDLE manager = Os().OpenSCManagerW(nullptr, nullptr,
//   SC_MANAGER_CONNECT);
//
// Production uses RealPlatform(); a test installs its own table for its
// duration with ScopedPlatform. Last errors travel through the real
// SetLastError/GetLastError, which a simulated call sets like Windows would.
#ifndef APP_TUNNEL_CONTROL_OS_PLATFORM_H_
#define APP_TUNNEL_CONTROL_OS_PLATFORM_H_

#include "win/scoped_override.h"
#include "win/windows_api.h"

namespace tunnel_control {

struct Platform {
  // Service manager (advapi32).
  decltype(&::OpenSCManagerW) OpenSCManagerW;
  decltype(&::OpenServiceW) OpenServiceW;
  decltype(&::CreateServiceW) CreateServiceW;
  decltype(&::ChangeServiceConfigW) ChangeServiceConfigW;
  decltype(&::ChangeServiceConfig2W) ChangeServiceConfig2W;
  decltype(&::CloseServiceHandle) CloseServiceHandle;
  decltype(&::QueryServiceStatusEx) QueryServiceStatusEx;
  decltype(&::ControlService) ControlService;
  decltype(&::StartServiceW) StartServiceW;
  decltype(&::DeleteService) DeleteService;
  decltype(&::SetServiceObjectSecurity) SetServiceObjectSecurity;
  decltype(&::QueryServiceObjectSecurity) QueryServiceObjectSecurity;

  // Security descriptors, SIDs and the token (advapi32).
  decltype(&::ConvertStringSidToSidW) ConvertStringSidToSidW;
  decltype(&::ConvertSidToStringSidW) ConvertSidToStringSidW;
  decltype(&::ConvertStringSecurityDescriptorToSecurityDescriptorW)
      ConvertStringSecurityDescriptorToSecurityDescriptorW;
  decltype(&::GetSecurityDescriptorDacl) GetSecurityDescriptorDacl;
  decltype(&::GetSecurityDescriptorOwner) GetSecurityDescriptorOwner;
  decltype(&::GetSecurityInfo) GetSecurityInfo;
  decltype(&::SetSecurityInfo) SetSecurityInfo;
  decltype(&::SetKernelObjectSecurity) SetKernelObjectSecurity;
  decltype(&::OpenProcessToken) OpenProcessToken;
  decltype(&::GetTokenInformation) GetTokenInformation;
  decltype(&::LookupAccountSidW) LookupAccountSidW;
  // SystemFunction036: random bytes without a crypto provider.
  decltype(&::RtlGenRandom) RtlGenRandom;
  // The user signed in at the console (kernel32, wtsapi32): the package
  // grants the tunnel to that user when asked for "*".
  decltype(&::WTSGetActiveConsoleSessionId) WTSGetActiveConsoleSessionId;
  decltype(&::WTSQueryUserToken) WTSQueryUserToken;

  // Processes, files, modules, memory and time (kernel32).
  decltype(&::GetCurrentProcess) GetCurrentProcess;
  decltype(&::CloseHandle) CloseHandle;
  decltype(&::CreateDirectoryW) CreateDirectoryW;
  decltype(&::CreateFileW) CreateFileW;
  decltype(&::WriteFile) WriteFile;
  decltype(&::DeleteFileW) DeleteFileW;
  decltype(&::GetFileInformationByHandleEx) GetFileInformationByHandleEx;
  decltype(&::SetFileInformationByHandle) SetFileInformationByHandle;
  decltype(&::GetFinalPathNameByHandleW) GetFinalPathNameByHandleW;
  decltype(&::GetDriveTypeW) GetDriveTypeW;
  decltype(&::GetVolumePathNameW) GetVolumePathNameW;
  decltype(&::GetVolumeNameForVolumeMountPointW)
      GetVolumeNameForVolumeMountPointW;
  decltype(&::DeviceIoControl) DeviceIoControl;
  decltype(&::GetSystemWindowsDirectoryW) GetSystemWindowsDirectoryW;
  decltype(&::FindFirstFileW) FindFirstFileW;
  decltype(&::FindNextFileW) FindNextFileW;
  decltype(&::FindClose) FindClose;
  decltype(&::GetModuleFileNameW) GetModuleFileNameW;
  decltype(&::SetDefaultDllDirectories) SetDefaultDllDirectories;
  decltype(&::LoadLibraryExW) LoadLibraryExW;
  decltype(&::GetProcAddress) GetProcAddress;
  decltype(&::GetTickCount64) GetTickCount64;
  decltype(&::Sleep) Sleep;
  decltype(&::LocalFree) LocalFree;
  decltype(&::WaitForSingleObject) WaitForSingleObject;
  decltype(&::GetExitCodeProcess) GetExitCodeProcess;

  // The native open (ntdll): unlike CreateFileW it adds no access of its
  // own, so it asks for exactly the rights given.
  decltype(&::NtOpenFile) NtOpenFile;

  // Shell and COM.
  decltype(&::SHGetKnownFolderPath) SHGetKnownFolderPath;
  decltype(&::ShellExecuteExW) ShellExecuteExW;
  decltype(&::CoTaskMemFree) CoTaskMemFree;
};

// The table of the real Windows functions.
const Platform& RealPlatform();

// The table in force: the real one unless a test has installed another.
const Platform& Os();

// Installs a replacement table for the lifetime of this object and restores
// the previous one afterwards. Tests only.
class ScopedPlatform : public win::ScopedOverride<const Platform*> {
 public:
  explicit ScopedPlatform(const Platform& replacement);
};

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_OS_PLATFORM_H_
