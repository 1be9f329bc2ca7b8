// What every custom action needs from its install session: properties and
// log lines, and an entry point that lets nothing unwind into msi.dll.
#ifndef APP_TUNNEL_CONTROL_PACKAGE_ACTION_SESSION_H_
#define APP_TUNNEL_CONTROL_PACKAGE_ACTION_SESSION_H_

#include <string>

#include "app/tunnel_control/package_action/msi_api.h"

namespace tunnel_control {

class Session {
 public:
  explicit Session(MSIHANDLE install) : install_(install) {}

  // The property's value; empty when unset or unreadable. A deferred action
  // sees only CustomActionData and a few others.
  std::wstring Property(const wchar_t* name) const;
  bool SetProperty(const wchar_t* name, const std::wstring& value) const;

  // One line in the install log, prefixed with the product's name.
  void Log(const std::wstring& line) const;

 private:
  MSIHANDLE install_;
};

// Runs `action`, which returns ERROR_SUCCESS or ERROR_INSTALL_FAILURE, and
// answers ERROR_INSTALL_FAILURE, with a log line, when it throws: nothing
// may unwind out of an entry point.
UINT RunAction(MSIHANDLE install, const wchar_t* name,
               UINT (*action)(const Session&));

}  // namespace tunnel_control

// Defines the custom action `name`: the export the package's tables name,
// running `step` through RunAction, whose log lines carry the same name.
#define VARN_WIDE_TEXT_(text) L##text
#define VARN_WIDE_TEXT(text) VARN_WIDE_TEXT_(text)
#define VARN_CUSTOM_ACTION(name, step)                                        \
  extern "C" UINT __stdcall name(MSIHANDLE install) {                         \
    return ::tunnel_control::RunAction(install, VARN_WIDE_TEXT(#name), step); \
  }

#endif  // APP_TUNNEL_CONTROL_PACKAGE_ACTION_SESSION_H_
