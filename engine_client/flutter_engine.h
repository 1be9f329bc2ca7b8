// One instance of the UI engine, with its messenger.
#ifndef ENGINE_CLIENT_FLUTTER_ENGINE_H_
#define ENGINE_CLIENT_FLUTTER_ENGINE_H_

#include <functional>
#include <memory>
#include <string>

#include "engine_client/binary_messenger.h"
#include "engine_client/flutter_project.h"
#include "engine_client/flutter_windows.h"
#include "engine_client/plugin_registry.h"

namespace flutter {

// Creates an engine from a project and owns it until a view controller takes
// it over. Held by shared ownership; used on the window thread only.
class FlutterEngine : public PluginRegistry {
 public:
  // Creates the engine from `project`. When the library returns no engine,
  // the object stays without one and calls nothing further.
  explicit FlutterEngine(const FlutterProject& project);
  // Destroys the engine instance only if it was never handed over, then the
  // next-frame callable, then the messenger.
  ~FlutterEngine() override;

  FlutterEngine(const FlutterEngine&) = delete;
  FlutterEngine& operator=(const FlutterEngine&) = delete;

  // Returns the engine handle (null if none was created) for a new owner. The
  // handle stays stored, so every other operation keeps working.
  FlutterDesktopEngineRef HandOverEngine();

  // Returns the messenger of the engine.
  BinaryMessenger& GetMessenger() { return *messenger_; }

  FlutterDesktopPluginRegistrarRef GetPluginRegistrar(
      const std::string& plugin_name) override;

  // Asks the engine to pick up changed system fonts.
  void ReloadSystemFonts();

  // Runs `callback` once, on the window thread, after the next frame. Replaces
  // a callable set before that has not run yet.
  void SetNextFrameCallback(std::function<void()> callback);

 private:
  // Destroys the engine instance if still owned and forgets the handle.
  void Shutdown();

  // Runs and clears the next-frame callable of the engine in `user_data`.
  // What the callable throws is reported and dropped.
  static void OnNextFrame(void* user_data) noexcept;

  FlutterDesktopEngineRef engine_ = nullptr;
  // Declared before the callable: members go in reverse order, and the
  // messenger must be the last to go.
  std::unique_ptr<BinaryMessenger> messenger_;
  bool owns_engine_ = true;
  std::function<void()> next_frame_callback_;
};

}  // namespace flutter

#endif  // ENGINE_CLIENT_FLUTTER_ENGINE_H_
