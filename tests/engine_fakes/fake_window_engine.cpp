#include "tests/engine_fakes/fake_window_engine.h"

#include <algorithm>
#include <map>
#include <utility>

#include "app/plugin_imports/plugin_registrants.h"

namespace {

using flutter::testing::FakeWindowEngine;

FakeWindowEngine fake;

// Registrar handles are the addresses of these names, one per plug-in.
std::map<std::string, std::string>& Registrars() {
  static auto* registrars = new std::map<std::string, std::string>();
  return *registrars;
}

std::string RegistrarName(FlutterDesktopPluginRegistrarRef registrar) {
  for (auto& [name, value] : Registrars()) {
    if (reinterpret_cast<FlutterDesktopPluginRegistrarRef>(&value) ==
        registrar) {
      return name;
    }
  }
  return "(unknown)";
}

void RecordPlugin(const char* plugin,
                  FlutterDesktopPluginRegistrarRef registrar) {
  fake.calls.push_back(std::string("plugin ") + plugin + " " +
                       RegistrarName(registrar));
}

int engine_token = 0;

// Notes a call that was handed a null engine or controller handle.
void CheckHandle(const void* handle) {
  if (handle == nullptr) fake.calls.push_back("null handle");
}
int controller_token = 0;
int view_token = 0;
int messenger_token = 0;

}  // namespace

namespace flutter::testing {

int FakeWindowEngine::Count(const std::string& call) const {
  return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

int FakeWindowEngine::IndexOf(const std::string& call) const {
  auto it = std::find(calls.begin(), calls.end(), call);
  return it == calls.end() ? -1 : static_cast<int>(it - calls.begin());
}

void FakeWindowEngine::DrawFrame() {
  FlutterDesktopOnNextFrameCallback callback =
      std::exchange(next_frame_callback, nullptr);
  if (callback != nullptr) callback(next_frame_data);
}

FakeWindowEngine& Fake() { return fake; }

void ResetFakeEngine() {
  if (fake.view_window != nullptr && ::IsWindow(fake.view_window)) {
    ::DestroyWindow(fake.view_window);
  }
  if (fake.parking_window != nullptr) ::DestroyWindow(fake.parking_window);
  fake = FakeWindowEngine();
}

}  // namespace flutter::testing

extern "C" {

// --- Plug-ins --------------------------------------------------------------
void AppLinksPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  RecordPlugin("AppLinksPluginCApi", registrar);
}
void SharePlusWindowsPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  RecordPlugin("SharePlusWindowsPluginCApi", registrar);
}
void UrlLauncherWindowsRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  RecordPlugin("UrlLauncherWindows", registrar);
}
void WireguardFlutterPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  RecordPlugin("WireguardFlutterPluginCApi", registrar);
}

// --- Engine ------------------------------------------------------------------
FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties*) {
  fake.calls.push_back("engine_create");
  if (fake.refuse_engine) return nullptr;
  return reinterpret_cast<FlutterDesktopEngineRef>(&engine_token);
}
bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef) {
  fake.calls.push_back("engine_destroyed");
  return true;
}
FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(
    FlutterDesktopEngineRef engine) {
  CheckHandle(engine);
  return reinterpret_cast<FlutterDesktopMessengerRef>(&messenger_token);
}
FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef engine, const char* plugin_name) {
  CheckHandle(engine);
  fake.calls.push_back(std::string("registrar ") + plugin_name);
  std::string& slot = Registrars()[plugin_name];
  slot = plugin_name;
  return reinterpret_cast<FlutterDesktopPluginRegistrarRef>(&slot);
}
void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine) {
  CheckHandle(engine);
  fake.calls.push_back("reload_fonts");
}
void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef engine, FlutterDesktopOnNextFrameCallback callback,
    void* user_data) {
  CheckHandle(engine);
  fake.calls.push_back("next_frame_callback");
  fake.next_frame_callback = callback;
  fake.next_frame_data = user_data;
}

// --- View controller and view ------------------------------------------------
FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(
    int width, int height, FlutterDesktopEngineRef engine) {
  CheckHandle(engine);
  fake.calls.push_back("controller_create");
  if (fake.refuse_view_controller) return nullptr;
  fake.view_width = width;
  fake.view_height = height;
  // The view starts as a child of a hidden window, as the real engine's
  // does, until the host adopts it.
  fake.parking_window =
      ::CreateWindowExW(0, L"STATIC", L"parking", WS_OVERLAPPED, 0, 0, 10, 10,
                        nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  fake.view_window = ::CreateWindowExW(
      0, L"STATIC", L"view", WS_CHILD | WS_VISIBLE, 0, 0, width, height,
      fake.parking_window, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  return reinterpret_cast<FlutterDesktopViewControllerRef>(&controller_token);
}
void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef) {
  fake.calls.push_back("controller_destroyed");
  fake.controller_destroyed = true;
  // The engine takes its view down with it, and the view's parent hears of
  // that while the controller is going.
  if (fake.view_window != nullptr && ::IsWindow(fake.view_window)) {
    ::DestroyWindow(fake.view_window);
  }
}
FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef) {
  return reinterpret_cast<FlutterDesktopViewRef>(&view_token);
}
void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller) {
  CheckHandle(controller);
  fake.calls.push_back("force_redraw");
}
bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND, UINT message, WPARAM,
    LPARAM, LRESULT* result) {
  CheckHandle(controller);
  fake.offered_messages.push_back(message);
  if (fake.controller_destroyed) ++fake.offers_after_destroy;
  if (fake.consumed_message != 0 && message == fake.consumed_message) {
    *result = fake.consumed_result;
    return true;
  }
  return false;
}
HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef) {
  return fake.view_window;
}

// --- Messenger
// -----------------------------------------------------------------
bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef,
                                          const char*, const uint8_t*, size_t,
                                          FlutterDesktopBinaryReply, void*) {
  return true;
}
bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef, const char*,
                                 const uint8_t*, size_t) {
  return true;
}
void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef, const FlutterDesktopMessageResponseHandle*,
    const uint8_t*, size_t) {}
void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef,
                                        const char* channel,
                                        FlutterDesktopMessageCallback callback,
                                        void*) {
  fake.calls.push_back(
      std::string(callback ? "set_callback " : "clear_callback ") + channel);
}
FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(
    FlutterDesktopMessengerRef messenger) {
  return messenger;
}
void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef) {}
FlutterDesktopMessengerRef FlutterDesktopMessengerLock(
    FlutterDesktopMessengerRef messenger) {
  return messenger;
}
void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef) {}
bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef) {
  return true;
}

// --- Process support
// -------------------------------------------------------------
UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  if (fake.dpi != 0) return fake.dpi;
  UINT dpi_x = 96;
  UINT dpi_y = 96;
  if (FAILED(::GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &dpi_x, &dpi_y))) {
    return 96;
  }
  return dpi_x;
}
void FlutterDesktopResyncOutputStreams(void) {}

}  // extern "C"
