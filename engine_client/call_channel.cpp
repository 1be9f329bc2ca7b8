#include "engine_client/call_channel.h"

#include <iostream>
#include <utility>

#include "engine_client/engine_method_result.h"

namespace flutter {

CallChannel::CallChannel(BinaryMessenger* messenger, const std::string& name,
                         const MethodCodec<EncodableValue>* codec)
    : messenger_(messenger), name_(name), codec_(codec) {}

void CallChannel::SetMethodHandler(MethodHandler handler) const {
  if (!handler) {
    messenger_->SetChannelHandler(name_, nullptr);
    return;
  }
  const MethodCodec<EncodableValue>* codec = codec_;
  ByteMessageHandler byte_handler = [handler = std::move(handler), codec,
                                     name = name_](const uint8_t* message,
                                                   size_t message_size,
                                                   ReplySink reply) {
    // Created before decoding, so even an undecodable message is answered.
    auto result = std::make_unique<EngineMethodResult>(std::move(reply), codec);
    std::unique_ptr<MethodCall<EncodableValue>> call =
        codec->ParseMethodCall(message, message_size);
    if (!call) {
      std::cerr << "Unable to construct method call from message on channel "
                << name << std::endl;
      result->NotImplemented();
      return;
    }
    handler(*call, std::move(result));
  };
  messenger_->SetChannelHandler(name_, std::move(byte_handler));
}

}  // namespace flutter
