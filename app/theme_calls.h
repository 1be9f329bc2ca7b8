// The two calls the title-bar theme depends on, behind a replaceable table:
// Wine draws no dark title bar and keeps no per-user theme value, so tests
// install their own table to see what the window asks for and gets.
#ifndef APP_THEME_CALLS_H_
#define APP_THEME_CALLS_H_

#include "win/scoped_override.h"
#include "win/windows_api.h"

struct ThemeCalls {
  decltype(&::RegGetValueW) RegGetValueW;
  decltype(&::DwmSetWindowAttribute) DwmSetWindowAttribute;
};

// Returns the table in force: the real functions unless a test replaced it.
const ThemeCalls& Theme();

// Installs `calls` for the lifetime of this object (tests only).
class ScopedThemeCalls : public win::ScopedOverride<const ThemeCalls*> {
 public:
  explicit ScopedThemeCalls(const ThemeCalls& calls);
};

#endif  // APP_THEME_CALLS_H_
