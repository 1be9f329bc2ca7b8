// The engine library's flat functions, plus the stand-in's own extras.
// Handles are pointers to the stand-in's objects; exported through the
// library's .def file.
#include <memory>

#include "engine_client/flutter_windows.h"
#include "stand_ins/engine/engine.h"
#include "stand_ins/engine/messenger.h"
#include "stand_ins/engine/stand_in_engine.h"
#include "stand_ins/engine/top_level_policy.h"
#include "stand_ins/engine/transcript.h"
#include "stand_ins/engine/view_controller.h"
#include "stand_ins/engine/wide_text.h"
#include "win/windows_api.h"

using stand_in::Engine;
using stand_in::JsonLine;
using stand_in::Messenger;
using stand_in::Transcript;
using stand_in::ViewController;

namespace {

constexpr UINT kDefaultDpi = 96;

int g_plugin_registrations = 0;

}  // namespace

extern "C" {

// --- Engine ------------------------------------------------------------------

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties) {
  if (properties == nullptr) return nullptr;
  std::unique_ptr<Engine> engine = Engine::Create(*properties);
  return engine ? engine.release()->ToRef() : nullptr;
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  if (engine == nullptr) return false;
  delete Engine::FromRef(engine);
  return true;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(
    FlutterDesktopEngineRef engine) {
  if (engine == nullptr) return nullptr;
  Messenger* messenger = Engine::FromRef(engine)->messenger();
  return messenger ? messenger->ToRef() : nullptr;
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef engine, const char* plugin_name) {
  if (engine == nullptr) return nullptr;
  return Engine::FromRef(engine)->GetRegistrar(plugin_name);
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine) {
  Transcript::Get().Write(
      JsonLine("reload_fonts").Bool("engine", engine != nullptr));
}

void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef engine, FlutterDesktopOnNextFrameCallback callback,
    void* user_data) {
  if (engine == nullptr) return;
  Engine::FromRef(engine)->SetNextFrameCallback(callback, user_data);
}

// --- View controller and view ------------------------------------------------

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(
    int width, int height, FlutterDesktopEngineRef engine) {
  if (engine == nullptr) return nullptr;
  std::unique_ptr<ViewController> controller = ViewController::Create(
      width, height, std::unique_ptr<Engine>(Engine::FromRef(engine)));
  return controller ? controller.release()->ToRef() : nullptr;
}

void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller) {
  delete ViewController::FromRef(controller);
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller) {
  if (controller == nullptr) return nullptr;
  return ViewController::FromRef(controller)->ToViewRef();
}

void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller) {
  if (controller == nullptr) return;
  ViewController::FromRef(controller)->ScheduleFrame();
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND hwnd, UINT message,
    WPARAM wparam, LPARAM lparam, LRESULT* result) {
  if (controller == nullptr) return false;
  return ViewController::FromRef(controller)
      ->HandleTopLevelWindowProc(hwnd, message, wparam, lparam, result);
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) {
  if (view == nullptr) return nullptr;
  return ViewController::FromViewRef(view)->view_window();
}

// --- Messenger ---------------------------------------------------------------

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                 const char* channel, const uint8_t* message,
                                 size_t message_size) {
  if (messenger == nullptr) return false;
  return Messenger::FromRef(messenger)->Send(channel, message, message_size,
                                             nullptr, nullptr);
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger,
                                          const char* channel,
                                          const uint8_t* message,
                                          size_t message_size,
                                          FlutterDesktopBinaryReply reply,
                                          void* user_data) {
  if (messenger == nullptr) return false;
  return Messenger::FromRef(messenger)->Send(channel, message, message_size,
                                             reply, user_data);
}

void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger,
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t data_size) {
  if (messenger == nullptr) return;
  Messenger::FromRef(messenger)->SendResponse(handle, data, data_size);
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                        const char* channel,
                                        FlutterDesktopMessageCallback callback,
                                        void* user_data) {
  if (messenger == nullptr) return;
  Messenger::FromRef(messenger)->SetCallback(channel, callback, user_data);
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(
    FlutterDesktopMessengerRef messenger) {
  if (messenger == nullptr) return nullptr;
  Messenger::FromRef(messenger)->AddRef();
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  if (messenger == nullptr) return;
  Messenger::FromRef(messenger)->Release();
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(
    FlutterDesktopMessengerRef messenger) {
  if (messenger == nullptr) return nullptr;
  Messenger::FromRef(messenger)->Lock();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  if (messenger == nullptr) return;
  Messenger::FromRef(messenger)->Unlock();
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  if (messenger == nullptr) return false;
  return Messenger::FromRef(messenger)->IsAvailable();
}

// --- Process support ---------------------------------------------------------

UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  UINT dpi = kDefaultDpi;
  UINT dpi_x = 0;
  UINT dpi_y = 0;
  if (monitor != nullptr &&
      SUCCEEDED(GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &dpi_x, &dpi_y)) &&
      dpi_x != 0) {
    dpi = dpi_x;
  }
  Transcript::Get().Write(JsonLine("dpi").Int("dpi", dpi));
  return dpi;
}

void FlutterDesktopResyncOutputStreams(void) {
  Transcript::Get().Write(JsonLine("resync_output_streams"));
}

// --- Stand-in extras ---------------------------------------------------------

void StandInRecordPluginRegistration(
    const char* plugin_name, FlutterDesktopPluginRegistrarRef registrar) {
  JsonLine line("plugin_registered");
  line.Str("plugin", plugin_name ? plugin_name : "")
      .OptStr("registrar_plugin", Engine::RegistrarPlugin(registrar))
      .Int("order", ++g_plugin_registrations);
  Transcript::Get().Write(line);
}

void StandInConsumeTopLevelMessage(UINT message, LRESULT result) {
  stand_in::SetConsumedTopLevelMessage(message, result);
}

int StandInFrameCount(void) { return stand_in::TotalFrameCount(); }

}  // extern "C"
