// The registration functions of the four plug-in libraries, bound on first
// use through import libraries made from the .def files beside this header.
#ifndef APP_PLUGIN_IMPORTS_PLUGIN_REGISTRANTS_H_
#define APP_PLUGIN_IMPORTS_PLUGIN_REGISTRANTS_H_

#include "engine_client/flutter_windows.h"

#ifdef __cplusplus
extern "C" {
#endif

void AppLinksPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
void SharePlusWindowsPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
void UrlLauncherWindowsRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
void WireguardFlutterPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // APP_PLUGIN_IMPORTS_PLUGIN_REGISTRANTS_H_
