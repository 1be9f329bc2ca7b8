#include "bench/in_process_engine.h"

#include <cstring>
#include <string>
#include <vector>

// The engine's records, as far as the client can observe them.
struct FlutterDesktopMessageResponseHandle {
  bool pending = false;
};

struct FlutterDesktopMessenger {
  struct Registration {
    std::string channel;
    FlutterDesktopMessageCallback callback = nullptr;
    void* user_data = nullptr;
  };
  std::vector<Registration> registrations;
  int references = 1;
  bool available = true;
  FlutterDesktopMessageResponseHandle response_handle;
  std::vector<uint8_t> response;
};

namespace bench {

InProcessEngine::InProcessEngine() : messenger_(new FlutterDesktopMessenger) {}

InProcessEngine::~InProcessEngine() {
  // The client may still hold references; the engine is gone either way.
  messenger_->available = false;
  if (--messenger_->references == 0) delete messenger_;
}

bool InProcessEngine::Deliver(const char* channel, const uint8_t* message,
                              size_t size,
                              const std::vector<uint8_t>** response) {
  for (const auto& registration : messenger_->registrations) {
    if (registration.channel != channel) continue;
    messenger_->response_handle.pending = true;
    messenger_->response.clear();
    FlutterDesktopMessage record{sizeof(FlutterDesktopMessage), channel,
                                 message, size, &messenger_->response_handle};
    registration.callback(messenger_, &record, registration.user_data);
    *response = &messenger_->response;
    return !messenger_->response_handle.pending;
  }
  return false;
}

}  // namespace bench

extern "C" {

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef, const char*,
                                 const uint8_t*, size_t) {
  return true;
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef,
                                          const char*, const uint8_t*, size_t,
                                          FlutterDesktopBinaryReply, void*) {
  // Nothing listens on the UI side of this engine.
  return false;
}

void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger,
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t data_size) {
  if (handle != &messenger->response_handle || !handle->pending) return;
  messenger->response_handle.pending = false;
  messenger->response.assign(data, data + data_size);
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                        const char* channel,
                                        FlutterDesktopMessageCallback callback,
                                        void* user_data) {
  auto& registrations = messenger->registrations;
  for (auto it = registrations.begin(); it != registrations.end(); ++it) {
    if (it->channel == channel) {
      registrations.erase(it);
      break;
    }
  }
  if (callback != nullptr) {
    registrations.push_back({channel, callback, user_data});
  }
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(
    FlutterDesktopMessengerRef messenger) {
  ++messenger->references;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  if (--messenger->references == 0) delete messenger;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(
    FlutterDesktopMessengerRef messenger) {
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef) {}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  return messenger->available;
}

}  // extern "C"
