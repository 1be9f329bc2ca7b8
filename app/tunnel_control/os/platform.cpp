#include "app/tunnel_control/os/platform.h"

#include <atomic>

namespace tunnel_control {
namespace {

const Platform kRealPlatform = {
    ::OpenSCManagerW,
    ::OpenServiceW,
    ::CreateServiceW,
    ::ChangeServiceConfigW,
    ::ChangeServiceConfig2W,
    ::CloseServiceHandle,
    ::QueryServiceStatusEx,
    ::ControlService,
    ::StartServiceW,
    ::DeleteService,
    ::SetServiceObjectSecurity,
    ::QueryServiceObjectSecurity,
    ::ConvertStringSidToSidW,
    ::ConvertSidToStringSidW,
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW,
    ::GetSecurityDescriptorDacl,
    ::GetSecurityDescriptorOwner,
    ::GetSecurityInfo,
    ::SetSecurityInfo,
    ::SetKernelObjectSecurity,
    ::OpenProcessToken,
    ::GetTokenInformation,
    ::LookupAccountSidW,
    ::RtlGenRandom,
    ::WTSGetActiveConsoleSessionId,
    ::WTSQueryUserToken,
    ::GetCurrentProcess,
    ::CloseHandle,
    ::CreateDirectoryW,
    ::CreateFileW,
    ::WriteFile,
    ::DeleteFileW,
    ::GetFileInformationByHandleEx,
    ::SetFileInformationByHandle,
    ::GetFinalPathNameByHandleW,
    ::GetDriveTypeW,
    ::GetVolumePathNameW,
    ::GetVolumeNameForVolumeMountPointW,
    ::DeviceIoControl,
    ::GetSystemWindowsDirectoryW,
    ::FindFirstFileW,
    ::FindNextFileW,
    ::FindClose,
    ::GetModuleFileNameW,
    ::SetDefaultDllDirectories,
    ::LoadLibraryExW,
    ::GetProcAddress,
    ::GetTickCount64,
    ::Sleep,
    ::LocalFree,
    ::WaitForSingleObject,
    ::GetExitCodeProcess,
    ::SHGetKnownFolderPath,
    ::ShellExecuteExW,
    ::CoTaskMemFree,
};

// Read from the tunnel operation thread, so the swap is atomic.
std::atomic<const Platform*> active_platform{&kRealPlatform};

}  // namespace

const Platform& RealPlatform() { return kRealPlatform; }

const Platform& Os() { return *active_platform.load(); }

ScopedPlatform::ScopedPlatform(const Platform& replacement)
    : ScopedOverride(active_platform, &replacement) {}

}  // namespace tunnel_control
