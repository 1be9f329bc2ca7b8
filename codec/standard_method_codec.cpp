#include "codec/standard_method_codec.h"

#include <iostream>
#include <map>
#include <mutex>
#include <utility>

#include "codec/byte_buffer_stream_reader.h"
#include "codec/byte_buffer_stream_writer.h"

namespace flutter {
namespace {

constexpr uint8_t kSuccessEnvelope = 0;
constexpr uint8_t kErrorEnvelope = 1;

}  // namespace

const StandardMethodCodec& StandardMethodCodec::SharedInstance(
    const StandardCodecSerializer* serializer) {
  if (serializer == nullptr) {
    serializer = &StandardCodecSerializer::SharedInstance();
  }
  // Never destroyed, so channels may hold plain references until exit. The
  // lock costs nothing on the one thread that normally asks and keeps a
  // second thread from corrupting the map.
  static auto* registry = new std::map<const StandardCodecSerializer*,
                                       std::unique_ptr<StandardMethodCodec>>();
  static auto* registry_lock = new std::mutex();
  std::lock_guard<std::mutex> hold(*registry_lock);
  auto& codec = (*registry)[serializer];
  if (!codec) codec.reset(new StandardMethodCodec(serializer));
  return *codec;
}

StandardMethodCodec::StandardMethodCodec(
    const StandardCodecSerializer* serializer)
    : serializer_(serializer) {}

StandardMethodCodec::~StandardMethodCodec() = default;

std::unique_ptr<MethodCall<EncodableValue>>
StandardMethodCodec::ParseMethodCall(const uint8_t* message,
                                     size_t message_size) const {
  ByteBufferStreamReader reader(message, message_size);
  EncodableValue name = serializer_->ReadTaggedValue(&reader);
  auto* name_text = std::get_if<std::string>(&name);
  if (name_text == nullptr) {
    std::cerr << "Invalid method call; method name is not a string."
              << std::endl;
    return nullptr;
  }
  auto arguments =
      std::make_unique<EncodableValue>(serializer_->ReadTaggedValue(&reader));
  return std::make_unique<MethodCall<EncodableValue>>(std::move(*name_text),
                                                      std::move(arguments));
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::SerializeMethodCall(
    const MethodCall<EncodableValue>& method_call) const {
  auto encoded = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter writer(encoded.get());
  serializer_->WriteValue(EncodableValue(method_call.call_name()), &writer);
  const EncodableValue* arguments = method_call.call_arguments();
  serializer_->WriteValue(arguments ? *arguments : EncodableValue(), &writer);
  return encoded;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeSuccessReply(
    const EncodableValue* result) const {
  auto encoded = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter writer(encoded.get());
  writer.PutByte(kSuccessEnvelope);
  serializer_->WriteValue(result ? *result : EncodableValue(), &writer);
  return encoded;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeErrorReply(
    const std::string& error_code, const std::string& error_message,
    const EncodableValue* error_details) const {
  auto encoded = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter writer(encoded.get());
  writer.PutByte(kErrorEnvelope);
  serializer_->WriteValue(EncodableValue(error_code), &writer);
  // An empty message goes out as null, not as an empty string.
  serializer_->WriteValue(
      error_message.empty() ? EncodableValue() : EncodableValue(error_message),
      &writer);
  serializer_->WriteValue(error_details ? *error_details : EncodableValue(),
                          &writer);
  return encoded;
}

bool StandardMethodCodec::ParseReplyEnvelope(
    const uint8_t* response, size_t response_size,
    MethodResult<EncodableValue>* result) const {
  ByteBufferStreamReader reader(response, response_size);
  uint8_t envelope = reader.GetByte();
  if (envelope == kSuccessEnvelope) {
    EncodableValue value = serializer_->ReadTaggedValue(&reader);
    if (value.IsNull()) {
      result->Success();
    } else {
      result->Success(value);
    }
    return true;
  }
  if (envelope == kErrorEnvelope) {
    EncodableValue code = serializer_->ReadTaggedValue(&reader);
    EncodableValue message = serializer_->ReadTaggedValue(&reader);
    EncodableValue details = serializer_->ReadTaggedValue(&reader);
    // A code or message of the wrong type throws std::bad_variant_access.
    const std::string& code_text = code.Get<std::string>();
    std::string message_text =
        message.IsNull() ? std::string() : message.Get<std::string>();
    if (details.IsNull()) {
      result->Error(code_text, message_text);
    } else {
      result->Error(code_text, message_text, details);
    }
    return true;
  }
  return false;
}

}  // namespace flutter
