// One engine instance: what it was started with, its messenger, its plug-in
// registrars and the pending next-frame callback.
#ifndef STAND_INS_ENGINE_ENGINE_H_
#define STAND_INS_ENGINE_ENGINE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine_client/flutter_windows.h"
#include "stand_ins/engine/messenger.h"

namespace stand_in {

// The handle given to a plug-in: remembers which name it was handed out for.
struct Registrar {
  std::string plugin_name;
};

class Engine {
 public:
  // Copies what it keeps of `properties`. Returns null (and records why)
  // when the assets directory does not exist.
  static std::unique_ptr<Engine> Create(
      const FlutterDesktopEngineProperties& properties);

  // Shuts down (if not done yet) and forgets the registrars.
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  static Engine* FromRef(FlutterDesktopEngineRef ref) {
    return reinterpret_cast<Engine*>(ref);
  }
  FlutterDesktopEngineRef ToRef() {
    return reinterpret_cast<FlutterDesktopEngineRef>(this);
  }

  Messenger* messenger() { return messenger_; }
  const std::vector<std::string>& entry_arguments() const {
    return entry_arguments_;
  }

  // Makes the messenger unavailable and gives back the engine's reference;
  // holders of other references keep a messenger that refuses to send.
  void Shutdown();

  // Returns this engine's registrar for `plugin_name`, the same one on every
  // lookup of that name, and records the lookup.
  FlutterDesktopPluginRegistrarRef GetRegistrar(const char* plugin_name);

  // Returns the plug-in name a live registrar was handed out for, or nothing
  // when no engine of this process handed out `registrar`.
  static std::optional<std::string> RegistrarPlugin(
      FlutterDesktopPluginRegistrarRef registrar);

  void SetNextFrameCallback(FlutterDesktopOnNextFrameCallback callback,
                            void* user_data);

  // Takes the pending next-frame callback, so that it runs at most once.
  // Returns false when none is pending.
  bool TakeNextFrameCallback(FlutterDesktopOnNextFrameCallback* callback,
                             void** user_data);

 private:
  Engine() = default;

  Messenger* messenger_ = nullptr;  // the engine's own reference
  std::vector<std::string> entry_arguments_;
  std::map<std::string, std::unique_ptr<Registrar>> registrars_;
  std::map<std::string, int> lookups_;
  std::mutex frame_mutex_;
  FlutterDesktopOnNextFrameCallback next_frame_callback_ = nullptr;
  void* next_frame_user_data_ = nullptr;
};

}  // namespace stand_in

#endif  // STAND_INS_ENGINE_ENGINE_H_
