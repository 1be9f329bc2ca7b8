// Extra exports of the stand-in engine library, for the plug-in stand-ins
// and the tests. The names start with "StandIn" so that nobody takes them
// for functions of the real engine library.
#ifndef STAND_INS_ENGINE_STAND_IN_ENGINE_H_
#define STAND_INS_ENGINE_STAND_IN_ENGINE_H_

#include "engine_client/flutter_windows.h"

#ifdef __cplusplus
extern "C" {
#endif

// Records that the plug-in `plugin_name` ran its registration function with
// `registrar` (written to the transcript as "plugin_registered").
void StandInRecordPluginRegistration(
    const char* plugin_name, FlutterDesktopPluginRegistrarRef registrar);

// Makes FlutterDesktopViewControllerHandleTopLevelWindowProc consume
// `message` with `result`; message 0 consumes nothing (the default).
void StandInConsumeTopLevelMessage(UINT message, LRESULT result);

// Returns the number of frames drawn so far in this process.
int StandInFrameCount(void);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // STAND_INS_ENGINE_STAND_IN_ENGINE_H_
