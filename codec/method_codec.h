#ifndef CODEC_METHOD_CODEC_H_
#define CODEC_METHOD_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/method_result.h"

namespace flutter {

// Turns method calls and their reply envelopes into bytes and back, for
// values of type T.
template <typename T = EncodableValue>
class MethodCodec {
 public:
  MethodCodec() = default;
  virtual ~MethodCodec() = default;

  MethodCodec(const MethodCodec&) = delete;
  MethodCodec& operator=(const MethodCodec&) = delete;

  // Decodes a call, or returns nullptr when the bytes hold none.
  virtual std::unique_ptr<MethodCall<T>> ParseMethodCall(
      const uint8_t* message, size_t message_size) const = 0;

  // Encodes `method_call`.
  virtual std::unique_ptr<std::vector<uint8_t>> SerializeMethodCall(
      const MethodCall<T>& method_call) const = 0;

  // Encodes a success envelope; `result` may be nullptr (no value).
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeSuccessReply(
      const T* result) const = 0;

  // Encodes an error envelope; `error_details` may be nullptr (none).
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeErrorReply(
      const std::string& error_code, const std::string& error_message,
      const T* error_details) const = 0;

  // Decodes a reply envelope and hands it to `result`; returns false, without
  // touching `result`, when the bytes hold no envelope.
  virtual bool ParseReplyEnvelope(const uint8_t* response, size_t response_size,
                                  MethodResult<T>* result) const = 0;
};

}  // namespace flutter

#endif  // CODEC_METHOD_CODEC_H_
