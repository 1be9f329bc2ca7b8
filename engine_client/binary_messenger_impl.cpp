#include "engine_client/binary_messenger_impl.h"

#include <iostream>
#include <memory>
#include <utility>

#include "engine_client/current_exception.h"
#include "win/scoped_resource.h"

namespace flutter {

namespace {

void ReleaseMessenger(FlutterDesktopMessengerRef messenger) {
  FlutterDesktopMessengerRelease(messenger);
}

void UnlockMessenger(FlutterDesktopMessengerRef locked) {
  FlutterDesktopMessengerUnlock(locked);
}

// One engine messenger reference, given back when its owner goes.
using MessengerReference = win::ScopedResource<
    win::NullIsNone<FlutterDesktopMessengerRef, &ReleaseMessenger>>;
// The engine messenger's lock, held until the answer ends, on every path.
using MessengerLock = win::ScopedResource<
    win::NullIsNone<FlutterDesktopMessengerRef, &UnlockMessenger>>;

enum class Answer { kSent, kAlreadyAnswered, kEngineGone };

// Sends the one response a message may get and forgets its handle. Under the
// lock, so the engine cannot be torn down between the check and the send
// when the answer comes from another thread, and so that two threads cannot
// both send on one handle.
Answer Respond(FlutterDesktopMessengerRef messenger,
               const FlutterDesktopMessageResponseHandle*& response,
               const uint8_t* data, size_t data_size) {
  const MessengerLock lock(FlutterDesktopMessengerLock(messenger));
  if (!FlutterDesktopMessengerIsAvailable(messenger)) {
    return Answer::kEngineGone;
  }
  if (response == nullptr) {
    return Answer::kAlreadyAnswered;
  }
  FlutterDesktopMessengerSendResponse(
      messenger, std::exchange(response, nullptr), data, data_size);
  return Answer::kSent;
}

// The open response of one incoming message, shared by every copy of its
// reply and by the callback that answers for a handler that threw.
struct PendingResponse {
  MessengerReference messenger;
  // Null once answered; guarded by the messenger lock.
  const FlutterDesktopMessageResponseHandle* response;
};

// Builds the sink that answers one message.
ReplySink MakeReply(std::shared_ptr<PendingResponse> pending) {
  return [pending = std::move(pending)](const uint8_t* data, size_t data_size) {
    if (Respond(pending->messenger.Get(), pending->response, data, data_size) ==
        Answer::kAlreadyAnswered) {
      std::cerr << "Error: Response can be set only once. Ignoring duplicate "
                   "response."
                << std::endl;
    }
  };
}

}  // namespace

BinaryMessengerImpl::BinaryMessengerImpl(FlutterDesktopMessengerRef messenger)
    : messenger_(messenger) {}

BinaryMessengerImpl::~BinaryMessengerImpl() = default;

void BinaryMessengerImpl::Send(const std::string& channel,
                               const uint8_t* message, size_t message_size,
                               ReplySink reply) const {
  if (messenger_ == nullptr) {
    return;
  }
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
    if (messenger_ == nullptr) {
      return;
    }
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr,
                                       nullptr);
    return;
  }
  // Assigning into an existing entry keeps the address the engine holds.
  ByteMessageHandler& stored = handlers_[channel];
  stored = std::move(handler);
  if (messenger_ == nullptr) {
    return;
  }
  FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(),
                                     &OnEngineMessage, &stored);
}

void BinaryMessengerImpl::OnEngineMessage(FlutterDesktopMessengerRef messenger,
                                          const FlutterDesktopMessage* message,
                                          void* user_data) noexcept {
  // The record's layout is the library's. Its first member says how much of
  // it there is; what is missing cannot be read, not even the response
  // handle, so such a message cannot be answered either.
  if (message == nullptr || message->struct_size < sizeof(*message)) {
    std::cerr << "Error: Dropping a message record of "
              << (message == nullptr ? 0 : message->struct_size)
              << " bytes; at least " << sizeof(*message)
              << " are needed to read it." << std::endl;
    return;
  }
  std::shared_ptr<PendingResponse> pending;
  try {
    pending = std::make_shared<PendingResponse>(PendingResponse{
        MessengerReference(FlutterDesktopMessengerAddRef(messenger)),
        message->response_handle});
    // Runs a copy: the handler may replace or remove its own map entry,
    // which would otherwise destroy it while it runs.
    ByteMessageHandler handler = *static_cast<ByteMessageHandler*>(user_data);
    handler(message->message, message->message_size, MakeReply(pending));
  } catch (...) {
    std::cerr << "Error: The handler of a message on channel "
              << (message->channel == nullptr ? "(none)" : message->channel)
              << " threw: " << DescribeCurrentException()
              << ". Answering with an empty reply." << std::endl;
    // The other side waits for an answer; unless the handler gave one
    // before it threw, it gets an empty one.
    const FlutterDesktopMessageResponseHandle* unshared =
        message->response_handle;
    Respond(messenger, pending ? pending->response : unshared, nullptr, 0);
  }
}

void BinaryMessengerImpl::OnEngineReply(const uint8_t* data, size_t data_size,
                                        void* user_data) noexcept {
  std::unique_ptr<ReplySink> record(static_cast<ReplySink*>(user_data));
  try {
    (*record)(data, data_size);
  } catch (...) {
    std::cerr << "Error: The reply handler of a sent message threw: "
              << DescribeCurrentException() << ". Dropped." << std::endl;
  }
}

}  // namespace flutter
