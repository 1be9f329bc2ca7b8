// The one place that includes <windows.h>: the project's defines first, then
// <windows.h>, then the other SDK headers the code uses, in an order that
// works for each (several need the base types). Every file that calls
// Windows includes this header and no SDK header of its own.
#ifndef WIN_WINDOWS_API_H_
#define WIN_WINDOWS_API_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00  // Windows 10
#endif

#include <windows.h>

// Left out of <windows.h> by WIN32_LEAN_AND_MEAN, or never part of it.
#include <aclapi.h>
#include <dwmapi.h>
#include <ntsecapi.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>
#include <shellscalingapi.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <winioctl.h>
#include <winternl.h>
#include <wtsapi32.h>

#endif  // WIN_WINDOWS_API_H_
