#include "engine_client/binary_messenger_impl.h"

#include <iostream>
#include <memory>
#include <utility>

namespace flutter {

namespace {

// Gives back one engine messenger reference when the last holder lets go.
struct MessengerReleaser {
  void operator()(FlutterDesktopMessenger* messenger) const {
    if (messenger != nullptr) {
      FlutterDesktopMessengerRelease(messenger);
    }
  }
};

// Unlocks the engine messenger when the answer ends, on every path.
struct MessengerUnlocker {
  void operator()(FlutterDesktopMessenger* locked) const {
    FlutterDesktopMessengerUnlock(locked);
  }
};

using SharedMessenger = std::shared_ptr<FlutterDesktopMessenger>;
using MessengerLock =
    std::unique_ptr<FlutterDesktopMessenger, MessengerUnlocker>;

// Builds the sink that answers one message. Each copy keeps its own
// response handle, so the once-only guard works per copy.
ReplySink MakeReply(SharedMessenger messenger,
                    const FlutterDesktopMessageResponseHandle* response) {
  return [messenger = std::move(messenger), response](
             const uint8_t* data, size_t data_size) mutable {
    // Held across the check and the send so the engine cannot be torn down
    // in between when the answer comes from another thread.
    MessengerLock lock(FlutterDesktopMessengerLock(messenger.get()));
    if (!FlutterDesktopMessengerIsAvailable(messenger.get())) {
      return;
    }
    if (response == nullptr) {
      std::cerr << "Error: Response can be set only once. Ignoring duplicate "
                   "response."
                << std::endl;
      return;
    }
    FlutterDesktopMessengerSendResponse(messenger.get(), response, data,
                                        data_size);
    response = nullptr;
  };
}

}  // namespace

BinaryMessengerImpl::BinaryMessengerImpl(FlutterDesktopMessengerRef messenger)
    : messenger_(messenger) {}

BinaryMessengerImpl::~BinaryMessengerImpl() = default;

void BinaryMessengerImpl::Send(const std::string& channel,
                               const uint8_t* message, size_t message_size,
                               ReplySink reply) const {
  if (!reply) {
    FlutterDesktopMessengerSend(messenger_, channel.c_str(), message,
                                message_size);
    return;
  }
  auto record = std::make_unique<ReplySink>(std::move(reply));
  if (FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message,
                                           message_size, &OnEngineReply,
                                           record.get())) {
    // The engine hands the record back to OnEngineReply exactly once.
    record.release();
  }
}

void BinaryMessengerImpl::SetChannelHandler(const std::string& channel,
                                            ByteMessageHandler handler) {
  if (!handler) {
    handlers_.erase(channel);
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr,
                                       nullptr);
    return;
  }
  // Assigning into an existing entry keeps the address the engine holds.
  ByteMessageHandler& stored = handlers_[channel];
  stored = std::move(handler);
  FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(),
                                     &OnEngineMessage, &stored);
}

void BinaryMessengerImpl::OnEngineMessage(FlutterDesktopMessengerRef messenger,
                                          const FlutterDesktopMessage* message,
                                          void* user_data) {
  const FlutterDesktopMessageResponseHandle* response =
      message->response_handle;
  SharedMessenger shared(FlutterDesktopMessengerAddRef(messenger),
                         MessengerReleaser());
  // Runs a copy: the handler may replace or remove its own map entry, which
  // would otherwise destroy it while it runs.
  ByteMessageHandler handler = *static_cast<ByteMessageHandler*>(user_data);
  handler(message->message, message->message_size, MakeReply(shared, response));
}

void BinaryMessengerImpl::OnEngineReply(const uint8_t* data, size_t data_size,
                                        void* user_data) {
  std::unique_ptr<ReplySink> record(static_cast<ReplySink*>(user_data));
  (*record)(data, data_size);
}

}  // namespace flutter
