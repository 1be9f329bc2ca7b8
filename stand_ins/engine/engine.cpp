#include "stand_ins/engine/engine.h"

#include <set>
#include <utility>

#include "stand_ins/engine/file_paths.h"
#include "stand_ins/engine/transcript.h"
#include "stand_ins/engine/wide_text.h"

namespace stand_in {
namespace {

// Every registrar handed out by a live engine, so that a plug-in's report
// can be checked against what it was really given.
struct LiveRegistrars {
  std::mutex mutex;
  std::set<const Registrar*> registrars;
};

LiveRegistrars& Live() {
  static LiveRegistrars live;
  return live;
}

std::string PathText(const wchar_t* path) {
  return path == nullptr ? std::string() : WideToUtf8(path);
}

}  // namespace

std::unique_ptr<Engine> Engine::Create(
    const FlutterDesktopEngineProperties& properties) {
  const std::wstring assets =
      properties.assets_path ? properties.assets_path : L"";
  const std::wstring resolved = ResolveBesideExecutable(assets);
  if (assets.empty() || !DirectoryExists(resolved)) {
    Transcript::Get().Write(
        JsonLine("engine_refused")
            .Str("assets_path", PathText(properties.assets_path))
            .Str("reason",
                 "assets directory does not exist: " + WideToUtf8(resolved)));
    return nullptr;
  }

  std::unique_ptr<Engine> engine(new Engine());
  const int32_t count = properties.entry_argument_count;
  if (count > 0 && properties.entry_arguments != nullptr) {
    for (int32_t i = 0; i < count; ++i) {
      const char* argument = properties.entry_arguments[i];
      engine->entry_arguments_.emplace_back(argument ? argument : "");
    }
  }
  std::string settings = "[";
  for (int i = 0; i < 3; ++i) {
    if (i > 0) settings += ',';
    settings += std::to_string(properties.engine_settings[i]);
  }
  settings += ']';
  JsonLine line("engine_created");
  line.Str("assets_path", PathText(properties.assets_path))
      .Str("icu_data_path", PathText(properties.icu_data_path))
      .Str("app_library_path", PathText(properties.app_library_path));
  if (properties.entry_name != nullptr) {
    line.Str("entry_name", properties.entry_name);
  } else {
    line.Null("entry_name");
  }
  line.Int("entry_argument_count", count)
      .Bool("entry_arguments_null", properties.entry_arguments == nullptr)
      .StrList("entry_arguments", engine->entry_arguments_)
      .Raw("engine_settings", settings)
      .Int("reserved", properties.reserved);
  Transcript::Get().Write(line);

  engine->messenger_ = new Messenger();
  return engine;
}

Engine::~Engine() {
  Shutdown();
  std::lock_guard<std::mutex> lock(Live().mutex);
  for (const auto& [name, registrar] : registrars_) {
    Live().registrars.erase(registrar.get());
  }
}

void Engine::Shutdown() {
  if (messenger_ == nullptr) return;
  messenger_->MarkUnavailable();
  messenger_->Release();
  messenger_ = nullptr;
  Transcript::Get().Write(JsonLine("engine_destroyed"));
}

FlutterDesktopPluginRegistrarRef Engine::GetRegistrar(const char* plugin_name) {
  const std::string name = plugin_name ? plugin_name : "";
  std::unique_ptr<Registrar>& registrar = registrars_[name];
  if (!registrar) {
    registrar = std::make_unique<Registrar>();
    registrar->plugin_name = name;
    std::lock_guard<std::mutex> lock(Live().mutex);
    Live().registrars.insert(registrar.get());
  }
  Transcript::Get().Write(JsonLine("registrar")
                              .Str("plugin", name)
                              .Int("lookup", ++lookups_[name]));
  return reinterpret_cast<FlutterDesktopPluginRegistrarRef>(registrar.get());
}

std::optional<std::string> Engine::RegistrarPlugin(
    FlutterDesktopPluginRegistrarRef registrar) {
  const auto* record = reinterpret_cast<const Registrar*>(registrar);
  std::lock_guard<std::mutex> lock(Live().mutex);
  if (Live().registrars.count(record) == 0) return std::nullopt;
  return record->plugin_name;
}

void Engine::SetNextFrameCallback(FlutterDesktopOnNextFrameCallback callback,
                                  void* user_data) {
  std::lock_guard<std::mutex> lock(frame_mutex_);
  next_frame_callback_ = callback;
  next_frame_user_data_ = user_data;
}

bool Engine::TakeNextFrameCallback(FlutterDesktopOnNextFrameCallback* callback,
                                   void** user_data) {
  std::lock_guard<std::mutex> lock(frame_mutex_);
  *callback = std::exchange(next_frame_callback_, nullptr);
  *user_data = std::exchange(next_frame_user_data_, nullptr);
  return *callback != nullptr;
}

}  // namespace stand_in
