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

// wtsapi32.dll is no KnownDLL: bound at load time it could come from the
// folder of the executable that runs elevated, so it is loaded from
// System32 when first needed, and kept.
BOOL WINAPI QueryUserTokenFromSystem32(ULONG session, PHANDLE token) {
  static const HMODULE wtsapi32 =
      ::LoadLibraryExW(L"wtsapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  const auto query = reinterpret_cast<decltype(&::WTSQueryUserToken)>(
      wtsapi32 ? ::GetProcAddress(wtsapi32, "WTSQueryUserToken") : nullptr);
  if (query == nullptr) {
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return query(session, token);
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
    ::WTSGetActiveConsoleSessionId,
    QueryUserTokenFromSystem32,
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
