// A library a test plants beside varn_vpn.exe under the name of one the exe
// uses (dwmapi.dll, flutter_windows.dll). Loading it leaves
// "<its path>.loaded" beside it, so the test sees which modes loaded it.
#include <string>

#include "win/windows_api.h"

// Lets an exe that still imports dwmapi at load time start, so the marker
// shows the load rather than a failed start.
extern "C" __declspec(dllexport) HRESULT WINAPI
    DwmSetWindowAttribute(HWND, DWORD, LPCVOID, DWORD) {
  return E_NOTIMPL;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  const std::wstring marker = std::wstring(path, length) + L".loaded";
  HANDLE file = ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  return TRUE;
}
