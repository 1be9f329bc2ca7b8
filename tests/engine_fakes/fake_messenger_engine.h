// An in-process stand-in for the engine library's flat engine and messenger
// functions, so the client layers run on the host. It records what it is
// given and checks the messenger protocol the client must keep (answers under
// the lock, at most one answer per message, none after the engine is gone).
#ifndef TESTS_ENGINE_FAKES_FAKE_MESSENGER_ENGINE_H_
#define TESTS_ENGINE_FAKES_FAKE_MESSENGER_ENGINE_H_

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine_client/flutter_windows.h"

namespace flutter::testing {

// What one FlutterDesktopMessengerSetCallback call was given.
struct SetCallbackCall {
  std::string channel;
  FlutterDesktopMessageCallback callback;
  void* user_data;
};

// A message the client sent to the UI side.
struct SentMessage {
  std::string channel;
  std::vector<uint8_t> message;
  FlutterDesktopBinaryReply reply;  // Null for a send without reply.
  void* user_data;
};

// One answer the client sent for an incoming message.
struct Response {
  int message_id;
  bool null_data;
  std::vector<uint8_t> data;
};

// A copy of the properties record the engine was created from.
struct EngineCreation {
  std::wstring assets_path;
  std::wstring icu_data_path;
  std::wstring app_library_path;
  bool entry_name_null = false;
  std::string entry_name;
  int32_t argument_count = -1;
  bool arguments_null = false;
  std::vector<std::string> arguments;
  std::array<int32_t, 3> engine_settings = {-1, -1, -1};
  uint32_t reserved = 1;
};

class FakeMessengerEngine {
 public:
  // Returns the process-wide fake behind the flat functions.
  static FakeMessengerEngine& Get();

  // Frees everything and forgets all records.
  void Reset();

  // Creates the messenger; its one reference is the engine side's.
  FlutterDesktopMessengerRef CreateMessenger();

  // Does to the messenger what destroying the engine does: marks it
  // unavailable under its lock, then drops the engine side's reference.
  void RetireMessenger();

  // Delivers `message` on `channel` to the registered callback, as the
  // engine does on the window thread. Returns the message's id, or -1 when
  // the channel has no callback.
  int DeliverMessage(const std::string& channel,
                     const std::vector<uint8_t>& message);

  // Runs the registered next-frame callback as the engine does after a
  // frame. The registration is kept, so a test sees the client's own
  // once-only guard rather than the engine's.
  void DrawFrame();

  // Appends `event` to the ordered event log.
  void Log(const std::string& event);

  // Records a protocol violation by the client.
  void Fault(const std::string& fault);

  // Thread-safe views of what may change on other threads.
  std::vector<Response> responses() const;
  std::vector<std::string> faults() const;
  std::vector<std::string> events() const;
  // Messenger references still held; 0 once the messenger was freed.
  int references() const;

  FlutterDesktopMessengerRef messenger() const;
  FlutterDesktopEngineRef engine() const { return engine_; }

  // Behaviour switches, set by tests before the call they affect.
  bool refuse_send_with_reply = false;
  bool fail_engine_create = false;
  // Bytes of the message record handed to the client (0: the whole record).
  // The record is a heap block of exactly that size, so reads past it show.
  size_t message_record_size = 0;

  // Window-thread records.
  std::vector<SetCallbackCall> set_callback_calls;
  std::vector<SentMessage> sent_messages;
  std::optional<EngineCreation> creation;
  std::vector<std::string> registrar_lookups;

  // The engine side's state, used by the flat functions.
  struct Internals;
  Internals& internals() { return *internals_; }
  std::mutex& mutex() const { return mutex_; }
  void set_engine(FlutterDesktopEngineRef engine) { engine_ = engine; }

 private:
  FakeMessengerEngine();

  mutable std::mutex mutex_;
  std::unique_ptr<Internals> internals_;
  FlutterDesktopEngineRef engine_ = nullptr;
};

}  // namespace flutter::testing

#endif  // TESTS_ENGINE_FAKES_FAKE_MESSENGER_ENGINE_H_
