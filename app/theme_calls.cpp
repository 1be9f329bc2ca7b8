#include "app/theme_calls.h"

#include <atomic>

namespace {

const ThemeCalls kRealThemeCalls = {&::RegGetValueW, &::DwmSetWindowAttribute};

std::atomic<const ThemeCalls*> theme_calls_in_force{&kRealThemeCalls};

}  // namespace

const ThemeCalls& Theme() { return *theme_calls_in_force.load(); }

ScopedThemeCalls::ScopedThemeCalls(const ThemeCalls& calls)
    : ScopedOverride(theme_calls_in_force, &calls) {}
