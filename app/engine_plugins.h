// Registration of the engine plug-ins the UI uses.
#ifndef APP_ENGINE_PLUGINS_H_
#define APP_ENGINE_PLUGINS_H_

#include "engine_client/plugin_registry.h"

// Hands each of the four plug-ins its registrar from `registry`, in a fixed
// order; a null registrar is passed on as it is.
void RegisterEnginePlugins(flutter::PluginRegistry* registry);

#endif  // APP_ENGINE_PLUGINS_H_
