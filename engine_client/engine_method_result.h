// The method result that answers the engine through the message's reply.
#ifndef ENGINE_CLIENT_ENGINE_METHOD_RESULT_H_
#define ENGINE_CLIENT_ENGINE_METHOD_RESULT_H_

#include <memory>
#include <string>

#include "codec/encodable_value.h"
#include "codec/method_codec.h"
#include "codec/method_result.h"
#include "engine_client/binary_messenger.h"
#include "engine_client/one_shot_reply.h"

namespace flutter {

// Encodes the answer with the channel's codec and sends it once. May be
// completed on any thread, but by one thread at a time.
class EngineMethodResult : public MethodResult<EncodableValue> {
 public:
  // Takes over `reply`; `codec` must outlive the result.
  EngineMethodResult(ReplySink reply, const MethodCodec<EncodableValue>* codec);
  // Warns when the message was never answered.
  ~EngineMethodResult() override;

 protected:
  void OnSuccess(const EncodableValue* result) override;
  void OnError(const std::string& error_code, const std::string& error_message,
               const EncodableValue* error_details) override;
  // Sends an empty reply: that is how not-implemented reaches the UI.
  void OnNotImplemented() override;

 private:
  std::unique_ptr<OneShotReply> reply_;
  const MethodCodec<EncodableValue>* codec_;
};

}  // namespace flutter

#endif  // ENGINE_CLIENT_ENGINE_METHOD_RESULT_H_
