/* Compiled as C: the engine library's interface must stay usable from C. */
#include "engine_client/flutter_windows.h"

size_t MessageRecordSizeSeenFromC(void) {
  return sizeof(FlutterDesktopMessage);
}
