#include "app/first_use_libraries.h"

#include "win/windows_api.h"

namespace {

// Shipped beside the exe.
constexpr const wchar_t* kBundledLibraries[] = {
    L"flutter_windows.dll",          L"app_links_plugin.dll",
    L"share_plus_plugin.dll",        L"url_launcher_windows_plugin.dll",
    L"wireguard_flutter_plugin.dll",
};

// Part of Windows but no KnownDLL: the default search would look beside the
// exe first. Once loaded, a load by plain name returns this module.
constexpr const wchar_t* kSystemLibraries[] = {L"dwmapi.dll"};

}  // namespace

bool LoadFirstUseLibraries() {
  for (const wchar_t* name : kSystemLibraries) {
    if (::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) ==
        nullptr) {
      return false;
    }
  }
  for (const wchar_t* name : kBundledLibraries) {
    if (::LoadLibraryW(name) == nullptr) return false;
  }
  return true;
}
