// The UI's side of the channels: encodes method calls, hands them to the
// messenger on the window thread, decodes the answers and records both.
#ifndef STAND_INS_ENGINE_UI_CALLER_H_
#define STAND_INS_ENGINE_UI_CALLER_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "stand_ins/engine/messenger.h"

namespace stand_in {

class ViewController;

// One decoded answer.
struct CallOutcome {
  // "success", "error", "not_implemented" (empty reply) or "invalid".
  std::string kind;
  flutter::EncodableValue value;
  std::string code;
  std::optional<std::string> message;  // none for an empty message
  flutter::EncodableValue details;
  int64_t ms = 0;  // from sending to the answer
};

class UiCaller {
 public:
  using Done = std::function<void(const CallOutcome&)>;
  // Sees every answered method call, on the thread that answered it.
  using Observer = std::function<void(
      const std::string& method, const flutter::EncodableValue& arguments,
      const std::string& source, const CallOutcome& outcome)>;

  // Holds its own reference to `messenger`, so calls made while the engine
  // shuts down fail quietly instead of touching a freed messenger.
  UiCaller(Messenger* messenger, ViewController* view);
  ~UiCaller();
  UiCaller(const UiCaller&) = delete;
  UiCaller& operator=(const UiCaller&) = delete;

  // Set before the first call.
  void SetObserver(Observer observer) { observer_ = std::move(observer); }

  // Sends `method` with `arguments` on `channel`; returns the call's id.
  // `done` runs once with the answer, on the thread that answered.
  uint64_t Call(const std::string& channel, const std::string& method,
                const flutter::EncodableValue& arguments,
                const std::string& source, Done done = {});

  // Sends `bytes` as they are; returns the message's id.
  uint64_t SendRaw(const std::string& channel,
                   const std::vector<uint8_t>& bytes,
                   const std::string& source);

  // Waits up to `timeout_ms` for the answer to `id`; returns it if it came.
  std::optional<CallOutcome> WaitFor(uint64_t id, int64_t timeout_ms);

  // Waits up to `timeout_ms` until every message sent so far is answered.
  bool WaitAll(int64_t timeout_ms);

 private:
  struct Pending {
    std::string channel;
    std::string method;
    std::string source;
    flutter::EncodableValue arguments;
    std::chrono::steady_clock::time_point sent;
    Done done;
  };

  uint64_t Send(Pending pending, std::vector<uint8_t> bytes);
  void OnReply(uint64_t id, const uint8_t* data, size_t size);

  Messenger* messenger_;
  ViewController* view_;
  Observer observer_;
  std::mutex mutex_;
  std::condition_variable answered_;
  uint64_t next_id_ = 1;
  std::map<uint64_t, Pending> pending_;
  std::map<uint64_t, CallOutcome> outcomes_;
};

}  // namespace stand_in

#endif  // STAND_INS_ENGINE_UI_CALLER_H_
