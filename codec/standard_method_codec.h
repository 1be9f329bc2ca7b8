#ifndef CODEC_STANDARD_METHOD_CODEC_H_
#define CODEC_STANDARD_METHOD_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/method_codec.h"
#include "codec/method_result.h"
#include "codec/standard_codec_serializer.h"

namespace flutter {

// The method codec of the standard message format: a call is the name as a
// string value followed by the arguments; a reply is envelope byte 0 and the
// result, or envelope byte 1, code, message and details.
class StandardMethodCodec : public MethodCodec<EncodableValue> {
 public:
  // Returns the process-wide codec for `serializer` (the shared standard
  // serializer when null). Codecs are never destroyed, so callers may keep
  // plain references. Lookups are not locked; obtain codecs from one thread.
  static const StandardMethodCodec& SharedInstance(
      const StandardCodecSerializer* serializer = nullptr);

  ~StandardMethodCodec() override;

  StandardMethodCodec(const StandardMethodCodec&) = delete;
  StandardMethodCodec& operator=(const StandardMethodCodec&) = delete;

  std::unique_ptr<MethodCall<EncodableValue>> ParseMethodCall(
      const uint8_t* message, size_t message_size) const override;
  std::unique_ptr<std::vector<uint8_t>> SerializeMethodCall(
      const MethodCall<EncodableValue>& method_call) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessReply(
      const EncodableValue* result) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeErrorReply(
      const std::string& error_code, const std::string& error_message,
      const EncodableValue* error_details) const override;
  bool ParseReplyEnvelope(const uint8_t* response, size_t response_size,
                          MethodResult<EncodableValue>* result) const override;

 private:
  explicit StandardMethodCodec(const StandardCodecSerializer* serializer);

  const StandardCodecSerializer* serializer_;
};

}  // namespace flutter

#endif  // CODEC_STANDARD_METHOD_CODEC_H_
