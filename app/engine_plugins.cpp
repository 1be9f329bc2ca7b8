#include "app/engine_plugins.h"

#include <string>

#include "app/plugin_imports/plugin_registrants.h"

namespace {

// One plug-in: the name the engine knows it by and its library's
// registration function.
struct EnginePlugin {
  const char* name;
  void (*register_with_registrar)(FlutterDesktopPluginRegistrarRef);
};

// The UI expects the plug-ins set up in this order.
constexpr EnginePlugin kEnginePlugins[] = {
    {"AppLinksPluginCApi", AppLinksPluginCApiRegisterWithRegistrar},
    {"SharePlusWindowsPluginCApi",
     SharePlusWindowsPluginCApiRegisterWithRegistrar},
    {"UrlLauncherWindows", UrlLauncherWindowsRegisterWithRegistrar},
    {"WireguardFlutterPluginCApi",
     WireguardFlutterPluginCApiRegisterWithRegistrar},
};

}  // namespace

void RegisterEnginePlugins(flutter::PluginRegistry* registry) {
  for (const EnginePlugin& plugin : kEnginePlugins) {
    plugin.register_with_registrar(
        registry->GetPluginRegistrar(std::string(plugin.name)));
  }
}
