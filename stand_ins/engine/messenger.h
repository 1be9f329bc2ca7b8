// The engine's messenger: reference counted, locked, and the carrier of
// channel messages between the stand-in UI and the host's callbacks.
#ifndef STAND_INS_ENGINE_MESSENGER_H_
#define STAND_INS_ENGINE_MESSENGER_H_

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine_client/flutter_windows.h"

namespace stand_in {

class ViewController;

// What the engine knows about one message it delivered: who is waiting for
// the answer and whether it has been given.
struct ResponseHandle {
  uint64_t id = 0;
  std::string channel;
  std::string method;
  bool consumed = false;
  // Receives the answer; runs once, under the messenger's lock.
  std::function<void(const uint8_t* data, size_t size)> on_reply;
};

class Messenger {
 public:
  // Starts with one reference, the engine's.
  Messenger();
  Messenger(const Messenger&) = delete;
  Messenger& operator=(const Messenger&) = delete;

  static Messenger* FromRef(FlutterDesktopMessengerRef ref) {
    return reinterpret_cast<Messenger*>(ref);
  }
  FlutterDesktopMessengerRef ToRef() {
    return reinterpret_cast<FlutterDesktopMessengerRef>(this);
  }

  void AddRef();
  // Gives back one reference; the last one deletes the messenger.
  void Release();

  void Lock() { mutex_.lock(); }
  void Unlock() { mutex_.unlock(); }

  bool IsAvailable();
  // Called when the engine goes: from then on nothing is delivered or sent.
  void MarkUnavailable();

  // The view whose window thread receives deliveries; null detaches.
  void AttachView(ViewController* view);

  void SetCallback(const char* channel, FlutterDesktopMessageCallback callback,
                   void* user_data);

  // Creates the handle for a message the UI is about to send. The messenger
  // keeps every handle until it is deleted, so a late second answer on a
  // consumed handle can still be recognised.
  ResponseHandle* NewHandle(
      uint64_t id, std::string channel, std::string method,
      std::function<void(const uint8_t*, size_t)> on_reply);

  // Hands one message to the channel's callback; window thread only. With no
  // callback the message is answered at once with an empty reply.
  void Deliver(const std::string& channel, const std::vector<uint8_t>& bytes,
               ResponseHandle* handle);

  // The host's answer to a delivered message.
  void SendResponse(const FlutterDesktopMessageResponseHandle* handle,
                    const uint8_t* data, size_t size);

  // A message from the host to the UI. The UI listens on no channel, so a
  // message with a reply is answered with an empty reply on the window
  // thread. False once the engine is gone.
  bool Send(const char* channel, const uint8_t* data, size_t size,
            FlutterDesktopBinaryReply reply, void* user_data);

 private:
  struct Registration {
    FlutterDesktopMessageCallback callback = nullptr;
    void* user_data = nullptr;
  };

  ~Messenger() = default;

  // Records an answer and hands it on; the lock must be held.
  void AnswerLocked(ResponseHandle* handle, const uint8_t* data, size_t size);

  std::atomic<int> references_{1};
  std::recursive_mutex mutex_;
  bool available_ = true;
  ViewController* view_ = nullptr;
  std::map<std::string, Registration> registrations_;
  std::deque<std::unique_ptr<ResponseHandle>> handles_;
};

}  // namespace stand_in

#endif  // STAND_INS_ENGINE_MESSENGER_H_
