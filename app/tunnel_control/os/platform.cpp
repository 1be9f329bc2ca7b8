#include "app/tunnel_control/os/platform.h"

#include <atomic>

namespace tunnel_control {
namespace {

constexpr NTSTATUS kStatusProcedureNotFound = static_cast<NTSTATUS>(0xC000007A);

// ntdll is mapped into every process before any other module: taken by
// handle, it loads nothing and searches no folder.
NTSTATUS NTAPI LoadedNtOpenFile(PHANDLE handle, ACCESS_MASK access,
                                POBJECT_ATTRIBUTES attributes,
                                PIO_STATUS_BLOCK status, ULONG share,
                                ULONG options) {
  static const auto open =
      reinterpret_cast<decltype(&::NtOpenFile)>(reinterpret_cast<void*>(
          ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtOpenFile")));
  if (open == nullptr) return kStatusProcedureNotFound;
  return open(handle, access, attributes, status, share, options);
}

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
    LoadedNtOpenFile,
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
