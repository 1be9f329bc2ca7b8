// The one place that includes <windows.h>, with the project's defines, so
// every translation unit sees the same Windows API surface.
#ifndef ENGINE_CLIENT_WIN32_H_
#define ENGINE_CLIENT_WIN32_H_

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

#endif  // ENGINE_CLIENT_WIN32_H_
