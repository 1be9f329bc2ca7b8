#include "app/tunnel_control/package_action/session.h"

#include <exception>

namespace tunnel_control {

std::wstring Session::Property(const wchar_t* name) const {
  // Asked with a too-small buffer, the call answers ERROR_MORE_DATA and the
  // length without the terminator.
  std::wstring value(64, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD size = static_cast<DWORD>(value.size());
    const UINT result = MsiGetPropertyW(install_, name, value.data(), &size);
    if (result == ERROR_SUCCESS) {
      value.resize(size);
      return value;
    }
    if (result != ERROR_MORE_DATA) break;
    value.assign(size + 1, L'\0');
  }
  return std::wstring();
}

bool Session::SetProperty(const wchar_t* name,
                          const std::wstring& value) const {
  return MsiSetPropertyW(install_, name, value.c_str()) == ERROR_SUCCESS;
}

void Session::Log(const std::wstring& line) const {
  const MSIHANDLE record = MsiCreateRecord(1);
  if (record == 0) return;
  // The text goes in field 1 behind a template of its own, so brackets in a
  // path are not read as property references.
  const std::wstring text = L"Varn VPN: " + line;
  if (MsiRecordSetStringW(record, 0, L"[1]") == ERROR_SUCCESS &&
      MsiRecordSetStringW(record, 1, text.c_str()) == ERROR_SUCCESS) {
    MsiProcessMessage(install_, kInstallMessageInfo, record);
  }
  MsiCloseHandle(record);
}

UINT RunAction(MSIHANDLE install, const wchar_t* name,
               UINT (*action)(const Session&)) {
  const Session session(install);
  try {
    return action(session);
  } catch (const std::exception&) {
  } catch (...) {
  }
  try {
    session.Log(std::wstring(name) + L" failed unexpectedly");
  } catch (...) {
  }
  return ERROR_INSTALL_FAILURE;
}

}  // namespace tunnel_control
