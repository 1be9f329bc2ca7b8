#include "engine_client/engine_method_result.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace flutter {

EngineMethodResult::EngineMethodResult(ReplySink reply,
                                       const MethodCodec<EncodableValue>* codec)
    : reply_(std::make_unique<OneShotReply>(std::move(reply))), codec_(codec) {}

EngineMethodResult::~EngineMethodResult() = default;

void EngineMethodResult::OnSuccess(const EncodableValue* result) {
  std::unique_ptr<std::vector<uint8_t>> envelope =
      codec_->EncodeSuccessReply(result);
  reply_->Deliver(envelope.get());
}

void EngineMethodResult::OnError(const std::string& error_code,
                                 const std::string& error_message,
                                 const EncodableValue* error_details) {
  std::unique_ptr<std::vector<uint8_t>> envelope =
      codec_->EncodeErrorReply(error_code, error_message, error_details);
  reply_->Deliver(envelope.get());
}

void EngineMethodResult::OnNotImplemented() { reply_->Deliver(nullptr); }

}  // namespace flutter
