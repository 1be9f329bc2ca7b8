#include "engine_client/flutter_engine.h"

#include <cstdint>
#include <iostream>
#include <utility>
#include <vector>

#include "engine_client/binary_messenger_impl.h"
#include "engine_client/current_exception.h"

namespace flutter {

FlutterEngine::FlutterEngine(const FlutterProject& project) {
  // The engine copies what it keeps during the call, so pointers into the
  // project and a temporary array are enough.
  std::vector<const char*> arguments;
  arguments.reserve(project.entry_arguments().size());
  for (const std::string& argument : project.entry_arguments()) {
    arguments.push_back(argument.c_str());
  }

  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = project.assets_directory().c_str();
  properties.icu_data_path = project.icu_data_file().c_str();
  properties.app_library_path = project.app_library_file().c_str();
  properties.entry_name = project.entry_name().c_str();
  properties.entry_argument_count = static_cast<int32_t>(arguments.size());
  properties.entry_arguments = arguments.empty() ? nullptr : arguments.data();
  for (size_t i = 0; i < project.engine_settings().size(); ++i) {
    properties.engine_settings[i] = project.engine_settings()[i];
  }

  engine_ = FlutterDesktopEngineCreate(&properties);
  // A failed start goes no further: nothing is asked of a null engine, and
  // the messenger without one keeps its handlers to itself.
  messenger_ = std::make_unique<BinaryMessengerImpl>(
      engine_ == nullptr ? nullptr : FlutterDesktopEngineGetMessenger(engine_));
}

FlutterEngine::~FlutterEngine() { Shutdown(); }

FlutterDesktopEngineRef FlutterEngine::HandOverEngine() {
  owns_engine_ = false;
  return engine_;
}

FlutterDesktopPluginRegistrarRef FlutterEngine::GetPluginRegistrar(
    const std::string& plugin_name) {
  if (engine_ == nullptr) {
    std::cerr << "Cannot get plugin registrar on an engine that isn't "
                 "running; call Run first."
              << std::endl;
    return nullptr;
  }
  return FlutterDesktopEngineGetPluginRegistrar(engine_, plugin_name.c_str());
}

void FlutterEngine::ReloadSystemFonts() {
  if (engine_ != nullptr) {
    FlutterDesktopEngineReloadSystemFonts(engine_);
  }
}

void FlutterEngine::SetNextFrameCallback(std::function<void()> callback) {
  next_frame_callback_ = std::move(callback);
  if (engine_ != nullptr) {
    FlutterDesktopEngineSetNextFrameCallback(engine_, &OnNextFrame, this);
  }
}

void FlutterEngine::Shutdown() {
  if (engine_ != nullptr && owns_engine_) {
    FlutterDesktopEngineDestroy(engine_);
  }
  engine_ = nullptr;
}

void FlutterEngine::OnNextFrame(void* user_data) noexcept {
  auto* self = static_cast<FlutterEngine*>(user_data);
  // Emptied before running, so the callable may set a new one for a later
  // frame without destroying itself mid-call.
  std::function<void()> callback = std::move(self->next_frame_callback_);
  self->next_frame_callback_ = nullptr;
  try {
    if (callback) {
      callback();
    }
  } catch (...) {
    std::cerr << "Error: The next-frame callback threw: "
              << DescribeCurrentException() << ". Dropped." << std::endl;
  }
}

}  // namespace flutter
