// Lookup of the engine's plug-in registrars by plug-in name.
#ifndef ENGINE_CLIENT_PLUGIN_REGISTRY_H_
#define ENGINE_CLIENT_PLUGIN_REGISTRY_H_

#include <string>

#include "engine_client/flutter_windows.h"

namespace flutter {

// Anything plug-ins can be registered with.
class PluginRegistry {
 public:
  virtual ~PluginRegistry() = default;

  // Returns the engine's registrar handle for `plugin_name`, or null.
  virtual FlutterDesktopPluginRegistrarRef GetPluginRegistrar(
      const std::string& plugin_name) = 0;
};

}  // namespace flutter

#endif  // ENGINE_CLIENT_PLUGIN_REGISTRY_H_
