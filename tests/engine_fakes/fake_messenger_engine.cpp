#include "tests/engine_fakes/fake_messenger_engine.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <thread>
#include <utility>

// The opaque engine types, completed for the fake only.
struct FlutterDesktopMessageResponseHandle {
  int id;
  bool consumed = false;  // Guarded by the messenger lock.
};

struct FlutterDesktopMessenger {
  std::mutex lock;
  std::atomic<std::thread::id> lock_owner{};
  bool available = true;  // Guarded by `lock`.
  std::atomic<int> references{1};
  std::map<std::string, std::pair<FlutterDesktopMessageCallback, void*>>
      callbacks;
};

struct FlutterDesktopEngine {
  FlutterDesktopMessengerRef messenger = nullptr;
  FlutterDesktopOnNextFrameCallback next_frame = nullptr;
  void* next_frame_data = nullptr;
};

struct FlutterDesktopPluginRegistrar {
  std::string name;
};

namespace flutter::testing {

struct FakeMessengerEngine::Internals {
  // Guarded by the fake's mutex.
  FlutterDesktopMessengerRef messenger = nullptr;
  std::vector<std::unique_ptr<FlutterDesktopMessageResponseHandle>> handles;
  std::vector<Response> responses;
  std::vector<std::string> faults;
  std::vector<std::string> events;
  // Window thread only.
  std::map<std::string, std::unique_ptr<FlutterDesktopPluginRegistrar>>
      registrars;
};

FakeMessengerEngine::FakeMessengerEngine()
    : internals_(std::make_unique<Internals>()) {}

FakeMessengerEngine& FakeMessengerEngine::Get() {
  static FakeMessengerEngine* fake = new FakeMessengerEngine();
  return *fake;
}

void FakeMessengerEngine::Reset() {
  delete engine_;
  engine_ = nullptr;
  std::lock_guard<std::mutex> guard(mutex_);
  delete internals_->messenger;
  internals_ = std::make_unique<Internals>();
  refuse_send_with_reply = false;
  fail_engine_create = false;
  message_record_size = 0;
  set_callback_calls.clear();
  sent_messages.clear();
  creation.reset();
  registrar_lookups.clear();
}

FlutterDesktopMessengerRef FakeMessengerEngine::CreateMessenger() {
  std::lock_guard<std::mutex> guard(mutex_);
  internals_->messenger = new FlutterDesktopMessenger();
  return internals_->messenger;
}

void FakeMessengerEngine::RetireMessenger() {
  FlutterDesktopMessengerRef messenger = this->messenger();
  if (messenger == nullptr) {
    return;
  }
  {
    std::lock_guard<std::mutex> guard(messenger->lock);
    messenger->available = false;
  }
  FlutterDesktopMessengerRelease(messenger);
}

int FakeMessengerEngine::DeliverMessage(const std::string& channel,
                                        const std::vector<uint8_t>& message) {
  FlutterDesktopMessengerRef messenger = this->messenger();
  auto found = messenger->callbacks.find(channel);
  if (found == messenger->callbacks.end()) {
    return -1;
  }
  FlutterDesktopMessageResponseHandle* handle;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const int id = static_cast<int>(internals_->handles.size());
    internals_->handles.push_back(
        std::make_unique<FlutterDesktopMessageResponseHandle>(
            FlutterDesktopMessageResponseHandle{id}));
    handle = internals_->handles.back().get();
  }
  FlutterDesktopMessage record = {};
  record.struct_size = sizeof(record);
  record.channel = channel.c_str();
  record.message = message.empty() ? nullptr : message.data();
  record.message_size = message.size();
  record.response_handle = handle;
  const size_t size =
      message_record_size == 0 ? sizeof(record) : message_record_size;
  auto block = std::make_unique<unsigned char[]>(size);
  std::memcpy(block.get(), &record, std::min(size, sizeof(record)));
  std::memcpy(block.get(), &size, sizeof(size));  // struct_size
  found->second.first(messenger,
                      reinterpret_cast<FlutterDesktopMessage*>(block.get()),
                      found->second.second);
  return handle->id;
}

void FakeMessengerEngine::DrawFrame() {
  if (engine_ != nullptr && engine_->next_frame != nullptr) {
    engine_->next_frame(engine_->next_frame_data);
  }
}

void FakeMessengerEngine::Log(const std::string& event) {
  std::lock_guard<std::mutex> guard(mutex_);
  internals_->events.push_back(event);
}

void FakeMessengerEngine::Fault(const std::string& fault) {
  std::lock_guard<std::mutex> guard(mutex_);
  internals_->faults.push_back(fault);
}

std::vector<Response> FakeMessengerEngine::responses() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return internals_->responses;
}

std::vector<std::string> FakeMessengerEngine::faults() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return internals_->faults;
}

std::vector<std::string> FakeMessengerEngine::events() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return internals_->events;
}

int FakeMessengerEngine::references() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return internals_->messenger == nullptr
             ? 0
             : internals_->messenger->references.load();
}

FlutterDesktopMessengerRef FakeMessengerEngine::messenger() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return internals_->messenger;
}

}  // namespace flutter::testing

namespace {

using flutter::testing::FakeMessengerEngine;

// Reports whether the calling thread holds the messenger lock.
bool HoldsLock(FlutterDesktopMessengerRef messenger) {
  return messenger->lock_owner.load() == std::this_thread::get_id();
}

}  // namespace

// --- Messenger family ------------------------------------------------------

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef /*messenger*/,
                                 const char* channel, const uint8_t* message,
                                 size_t message_size) {
  FakeMessengerEngine::Get().sent_messages.push_back(
      {channel, std::vector<uint8_t>(message, message + message_size), nullptr,
       nullptr});
  return true;
}

bool FlutterDesktopMessengerSendWithReply(
    FlutterDesktopMessengerRef /*messenger*/, const char* channel,
    const uint8_t* message, size_t message_size,
    FlutterDesktopBinaryReply reply, void* user_data) {
  FakeMessengerEngine& fake = FakeMessengerEngine::Get();
  if (fake.refuse_send_with_reply) {
    return false;
  }
  fake.sent_messages.push_back(
      {channel, std::vector<uint8_t>(message, message + message_size), reply,
       user_data});
  return true;
}

void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger,
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t data_size) {
  FakeMessengerEngine& fake = FakeMessengerEngine::Get();
  if (!HoldsLock(messenger)) {
    fake.Fault("response without the messenger lock");
  }
  if (!messenger->available) {
    fake.Fault("response after the engine was destroyed");
    return;
  }
  auto* writable = const_cast<FlutterDesktopMessageResponseHandle*>(handle);
  if (writable->consumed) {
    fake.Fault("second response to message " + std::to_string(handle->id));
    return;
  }
  writable->consumed = true;
  std::lock_guard<std::mutex> guard(fake.mutex());
  fake.internals().responses.push_back(
      {handle->id, data == nullptr,
       data == nullptr ? std::vector<uint8_t>()
                       : std::vector<uint8_t>(data, data + data_size)});
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                        const char* channel,
                                        FlutterDesktopMessageCallback callback,
                                        void* user_data) {
  FakeMessengerEngine::Get().set_callback_calls.push_back(
      {channel, callback, user_data});
  if (callback == nullptr) {
    messenger->callbacks.erase(channel);
  } else {
    messenger->callbacks[channel] = {callback, user_data};
  }
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(
    FlutterDesktopMessengerRef messenger) {
  messenger->references.fetch_add(1);
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  FakeMessengerEngine& fake = FakeMessengerEngine::Get();
  if (messenger->references.fetch_sub(1) == 1) {
    std::lock_guard<std::mutex> guard(fake.mutex());
    fake.internals().messenger = nullptr;
    delete messenger;
  }
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(
    FlutterDesktopMessengerRef messenger) {
  messenger->lock.lock();
  messenger->lock_owner.store(std::this_thread::get_id());
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  messenger->lock_owner.store(std::thread::id());
  messenger->lock.unlock();
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  if (!HoldsLock(messenger)) {
    FakeMessengerEngine::Get().Fault(
        "availability test without the messenger lock");
  }
  return messenger->available;
}

// --- Engine family ---------------------------------------------------------

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties) {
  FakeMessengerEngine& fake = FakeMessengerEngine::Get();
  fake.Log("EngineCreate");
  flutter::testing::EngineCreation creation;
  creation.assets_path = properties->assets_path;
  creation.icu_data_path = properties->icu_data_path;
  creation.app_library_path = properties->app_library_path;
  creation.entry_name_null = properties->entry_name == nullptr;
  if (!creation.entry_name_null) {
    creation.entry_name = properties->entry_name;
  }
  creation.argument_count = properties->entry_argument_count;
  creation.arguments_null = properties->entry_arguments == nullptr;
  for (int32_t i = 0; !creation.arguments_null && i < creation.argument_count;
       ++i) {
    creation.arguments.push_back(properties->entry_arguments[i]);
  }
  for (size_t i = 0; i < creation.engine_settings.size(); ++i) {
    creation.engine_settings[i] = properties->engine_settings[i];
  }
  creation.reserved = properties->reserved;
  fake.creation = creation;
  if (fake.fail_engine_create) {
    return nullptr;
  }
  auto* engine = new FlutterDesktopEngine();
  engine->messenger = fake.CreateMessenger();
  fake.set_engine(engine);
  return engine;
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  FakeMessengerEngine& fake = FakeMessengerEngine::Get();
  fake.Log("EngineDestroy");
  fake.RetireMessenger();
  fake.set_engine(nullptr);
  delete engine;
  return true;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(
    FlutterDesktopEngineRef engine) {
  FakeMessengerEngine::Get().Log("EngineGetMessenger");
  return engine == nullptr ? nullptr : engine->messenger;
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef /*engine*/, const char* plugin_name) {
  FakeMessengerEngine& fake = FakeMessengerEngine::Get();
  fake.registrar_lookups.push_back(plugin_name);
  auto& registrar = fake.internals().registrars[plugin_name];
  if (!registrar) {
    registrar = std::make_unique<FlutterDesktopPluginRegistrar>();
    registrar->name = plugin_name;
  }
  return registrar.get();
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine) {
  FakeMessengerEngine::Get().Log(
      engine == FakeMessengerEngine::Get().engine()
          ? "EngineReloadSystemFonts"
          : "EngineReloadSystemFonts(unknown engine)");
}

void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef engine, FlutterDesktopOnNextFrameCallback callback,
    void* user_data) {
  FakeMessengerEngine::Get().Log("EngineSetNextFrameCallback");
  engine->next_frame = callback;
  engine->next_frame_data = user_data;
}
