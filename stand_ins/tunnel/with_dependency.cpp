// A tunnel.dll that needs tunnel_helper.dll, which it does not ship: where
// the service host lets the loader look for it decides whether a planted
// copy runs as SYSTEM.
#include "win/windows_api.h"

// From tunnel_helper.dll; the planted test library exports it.
extern "C" HRESULT WINAPI DwmSetWindowAttribute(HWND window, DWORD attribute,
                                                LPCVOID value, DWORD size);

extern "C" int WireGuardTunnelService(const wchar_t* /*config_path*/) {
  return DwmSetWindowAttribute(nullptr, 0, nullptr, 0) == E_NOTIMPL ? 1 : 0;
}
