// The few msi.dll functions the custom actions call, declared here and bound
// through an import library made from msi.def.
#ifndef APP_TUNNEL_CONTROL_PACKAGE_ACTION_MSI_API_H_
#define APP_TUNNEL_CONTROL_PACKAGE_ACTION_MSI_API_H_

#include "win/windows_api.h"

extern "C" {

// A handle to an install session or a record; 32 bits on every platform.
typedef unsigned long MSIHANDLE;

// Message types of MsiProcessMessage: a line in the log only.
inline constexpr int kInstallMessageInfo = 0x04000000;

UINT WINAPI MsiCloseHandle(MSIHANDLE handle);
MSIHANDLE WINAPI MsiCreateRecord(UINT fields);
UINT WINAPI MsiGetPropertyW(MSIHANDLE install, LPCWSTR name, LPWSTR value,
                            DWORD* value_size);
int WINAPI MsiProcessMessage(MSIHANDLE install, int message_type,
                             MSIHANDLE record);
UINT WINAPI MsiRecordSetStringW(MSIHANDLE record, UINT field, LPCWSTR value);
UINT WINAPI MsiSetPropertyW(MSIHANDLE install, LPCWSTR name, LPCWSTR value);

}  // extern "C"

#endif  // APP_TUNNEL_CONTROL_PACKAGE_ACTION_MSI_API_H_
