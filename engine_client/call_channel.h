// A method channel: typed method calls over one named byte channel.
#ifndef ENGINE_CLIENT_CALL_CHANNEL_H_
#define ENGINE_CLIENT_CALL_CHANNEL_H_

#include <functional>
#include <memory>
#include <string>

#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/method_codec.h"
#include "codec/method_result.h"
#include "engine_client/binary_messenger.h"

namespace flutter {

// Handles one method call. The handler owns the result and may complete it
// later or on another thread; the call is valid only during the handler.
using MethodHandler =
    std::function<void(const MethodCall<EncodableValue>& call,
                       std::unique_ptr<MethodResult<EncodableValue>> result)>;

// Installs method handlers on a messenger channel. Needed only while
// installing: the installed handler keeps its own copies of what it uses.
class CallChannel {
 public:
  // `messenger` must outlive the registration; `codec` must outlive every
  // message of the channel.
  CallChannel(BinaryMessenger* messenger, const std::string& name,
              const MethodCodec<EncodableValue>* codec);

  // Installs `handler` for the channel, replacing an earlier one, or removes
  // the channel's handler when `handler` is empty.
  void SetMethodHandler(MethodHandler handler) const;

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec<EncodableValue>* codec_;
};

}  // namespace flutter

#endif  // ENGINE_CLIENT_CALL_CHANNEL_H_
