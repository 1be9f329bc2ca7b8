// The flat C interface of the UI engine library, flutter_windows.dll.
//
// This is our own declaration of the 23 functions the runner calls, with the
// handle, callback and record types they take. The executable links against
// a delay-load import library generated from flutter_windows.def, so it loads
// whichever flutter_windows.dll sits beside it, on the first call.
//
// Record layouts (x64, natural alignment):
//
//   FlutterDesktopEngineProperties (64 bytes)
//     0  const wchar_t* assets_path        e.g. L"data\\flutter_assets"
//     8  const wchar_t* icu_data_path      e.g. L"data\\icudtl.dat"
//    16  const wchar_t* app_library_path   e.g. L"data\\app.so"
//    24  const char*    entry_name         "" when none, never null
//    32  int32_t        entry_argument_count
//    40  const char**   entry_arguments    null when the count is 0
//    48  int32_t        engine_settings[3] passed through, zeros here
//    60  uint32_t       reserved           always 0
//
//   FlutterDesktopMessage (40 bytes)
//     0  size_t  struct_size               sizeof(FlutterDesktopMessage)
//     8  const char* channel               NUL-terminated channel name
//    16  const uint8_t* message            the message bytes (may be null if 0)
//    24  size_t  message_size
//    32  const FlutterDesktopMessageResponseHandle* response_handle
//
// The portable part (handles, messenger family) compiles on any platform so
// the messenger and method channel layers can be tested on the host; the
// functions that take window types exist only on Windows.
#ifndef ENGINE_CLIENT_FLUTTER_WINDOWS_H_
#define ENGINE_CLIENT_FLUTTER_WINDOWS_H_

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(_WIN32)
#include "win/windows_api.h"
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Opaque handles. The runner only stores them and hands them back.
typedef struct FlutterDesktopEngine* FlutterDesktopEngineRef;
typedef struct FlutterDesktopViewController* FlutterDesktopViewControllerRef;
typedef struct FlutterDesktopView* FlutterDesktopViewRef;
typedef struct FlutterDesktopMessenger* FlutterDesktopMessengerRef;
typedef struct FlutterDesktopPluginRegistrar* FlutterDesktopPluginRegistrarRef;
typedef struct FlutterDesktopMessageResponseHandle
    FlutterDesktopMessageResponseHandle;

typedef struct {
  const wchar_t* assets_path;
  const wchar_t* icu_data_path;
  const wchar_t* app_library_path;
  const char* entry_name;
  int32_t entry_argument_count;
  const char** entry_arguments;
  int32_t engine_settings[3];
  uint32_t reserved;
} FlutterDesktopEngineProperties;

typedef struct {
  size_t struct_size;
  const char* channel;
  const uint8_t* message;
  size_t message_size;
  const FlutterDesktopMessageResponseHandle* response_handle;
} FlutterDesktopMessage;

// Called on the window thread for each message on a registered channel.
typedef void (*FlutterDesktopMessageCallback)(
    FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
    void* user_data);

// Called once with the answer to a message sent with a reply.
typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size,
                                          void* user_data);

// Called once, on the window thread, after the next frame has been drawn.
typedef void (*FlutterDesktopOnNextFrameCallback)(void* user_data);

// --- Messenger family (portable) ---------------------------------------
bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                 const char* channel, const uint8_t* message,
                                 size_t message_size);
bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger,
                                          const char* channel,
                                          const uint8_t* message,
                                          size_t message_size,
                                          FlutterDesktopBinaryReply reply,
                                          void* user_data);
void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger,
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t data_size);
void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                        const char* channel,
                                        FlutterDesktopMessageCallback callback,
                                        void* user_data);
FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(
    FlutterDesktopMessengerRef messenger);
void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger);
FlutterDesktopMessengerRef FlutterDesktopMessengerLock(
    FlutterDesktopMessengerRef messenger);
void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger);
bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger);

// --- Engine family (portable) ----------------------------------------------
FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties);
bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine);
FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(
    FlutterDesktopEngineRef engine);
FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef engine, const char* plugin_name);
void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine);
void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef engine, FlutterDesktopOnNextFrameCallback callback,
    void* user_data);

#if defined(_WIN32)
// --- View controller and view family --------------------------------------
FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(
    int width, int height, FlutterDesktopEngineRef engine);
void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller);
FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller);
void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller);
bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND hwnd, UINT message,
    WPARAM wparam, LPARAM lparam, LRESULT* result);
HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view);

// --- Process support -------------------------------------------------------
UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor);
void FlutterDesktopResyncOutputStreams(void);
#endif  // defined(_WIN32)

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // ENGINE_CLIENT_FLUTTER_WINDOWS_H_
