#include "engine_client/flutter_view.h"

namespace flutter {

HWND FlutterView::GetHWND() const { return FlutterDesktopViewGetHWND(view_); }

}  // namespace flutter
