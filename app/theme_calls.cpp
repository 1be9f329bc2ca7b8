#include "app/theme_calls.h"

namespace {

const ThemeCalls kRealThemeCalls = {&::RegGetValueW, &::DwmSetWindowAttribute};

const ThemeCalls* theme_calls_in_force = &kRealThemeCalls;

}  // namespace

const ThemeCalls& Theme() { return *theme_calls_in_force; }

ScopedThemeCalls::ScopedThemeCalls(const ThemeCalls& calls)
    : previous_(theme_calls_in_force) {
  theme_calls_in_force = &calls;
}

ScopedThemeCalls::~ScopedThemeCalls() { theme_calls_in_force = previous_; }
