// Stand-in for app_links_plugin.dll: its registration function only tells the
// stand-in engine that it ran and which registrar it was handed.
#include "engine_client/flutter_windows.h"
#include "stand_ins/engine/stand_in_engine.h"

extern "C" void AppLinksPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  StandInRecordPluginRegistration("AppLinksPluginCApi", registrar);
}
