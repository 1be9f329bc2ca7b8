#include "codec/standard_method_codec.h"

#include <iostream>
#include <map>
#include <mutex>
#include <typeinfo>
#include <utility>

#include "codec/byte_buffer_stream_reader.h"
#include "codec/byte_buffer_stream_writer.h"
#include "codec/standard_codec_tags.h"

namespace flutter {
namespace {

constexpr uint8_t kSuccessEnvelope = 0;
constexpr uint8_t kErrorEnvelope = 1;

// Tag, the longest size field and the widest padding.
constexpr size_t kValueOverhead = 1 + 5 + 7;

// Returns a bound on the standard encoding of `value`, so that each message
// vector is reserved once instead of growing while it is written. Only a
// hint: an extension that writes more merely makes the vector grow again.
size_t EncodedSizeBound(const EncodableValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    return kValueOverhead + text->size();
  }
  if (const auto* list = std::get_if<ValueList>(&value)) {
    size_t size = kValueOverhead;
    for (const EncodableValue& element : *list) {
      size += EncodedSizeBound(element);
    }
    return size;
  }
  if (const auto* map = std::get_if<ValueMap>(&value)) {
    size_t size = kValueOverhead;
    for (const auto& [key, entry] : *map) {
      size += EncodedSizeBound(key) + EncodedSizeBound(entry);
    }
    return size;
  }
  if (const auto* bytes = std::get_if<std::vector<uint8_t>>(&value)) {
    return kValueOverhead + bytes->size();
  }
  if (const auto* int32s = std::get_if<std::vector<int32_t>>(&value)) {
    return kValueOverhead + int32s->size() * sizeof(int32_t);
  }
  if (const auto* int64s = std::get_if<std::vector<int64_t>>(&value)) {
    return kValueOverhead + int64s->size() * sizeof(int64_t);
  }
  if (const auto* doubles = std::get_if<std::vector<double>>(&value)) {
    return kValueOverhead + doubles->size() * sizeof(double);
  }
  if (const auto* floats = std::get_if<std::vector<float>>(&value)) {
    return kValueOverhead + floats->size() * sizeof(float);
  }
  if (std::holds_alternative<int32_t>(value)) return 1 + 4;
  if (std::holds_alternative<int64_t>(value)) return 1 + 8;
  if (std::holds_alternative<double>(value)) return 1 + 7 + 8;
  return 1;  // Null, bool, and custom values written as null.
}

// Written in place of an absent value. Mixed with a reference in `?:`, a
// temporary null would make the operator copy the present value instead.
const EncodableValue& NullValueRef() {
  static const EncodableValue* null_value = new EncodableValue();
  return *null_value;
}

// Writes `text` as a string value. For the standard serializer itself the
// encoding is written straight from the text, sparing a copy into a value;
// a derived serializer still gets the value through its WriteValue.
void WriteString(const StandardCodecSerializer& serializer,
                 const std::string& text, ByteStreamWriter* writer) {
  if (typeid(serializer) != typeid(StandardCodecSerializer) ||
      text.size() > StandardCodecSerializer::kMaxSize) {
    serializer.WriteValue(EncodableValue(text), writer);
    return;
  }
  writer->PutByte(kString);
  serializer.WriteSizeField(text.size(), writer);
  if (!text.empty()) {
    writer->PutBytes(reinterpret_cast<const uint8_t*>(text.data()),
                     text.size());
  }
}

// Returns an empty message vector with room for `size` bytes.
std::unique_ptr<std::vector<uint8_t>> NewMessage(size_t size) {
  auto message = std::make_unique<std::vector<uint8_t>>();
  message->reserve(size);
  return message;
}

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
  const EncodableValue* arguments = method_call.call_arguments();
  auto encoded = NewMessage(kValueOverhead + method_call.call_name().size() +
                            (arguments ? EncodedSizeBound(*arguments) : 1));
  ByteBufferStreamWriter writer(encoded.get());
  WriteString(*serializer_, method_call.call_name(), &writer);
  serializer_->WriteValue(arguments ? *arguments : NullValueRef(), &writer);
  return encoded;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeSuccessReply(
    const EncodableValue* result) const {
  auto encoded = NewMessage(1 + (result ? EncodedSizeBound(*result) : 1));
  ByteBufferStreamWriter writer(encoded.get());
  writer.PutByte(kSuccessEnvelope);
  serializer_->WriteValue(result ? *result : NullValueRef(), &writer);
  return encoded;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeErrorReply(
    const std::string& error_code, const std::string& error_message,
    const EncodableValue* error_details) const {
  auto encoded = NewMessage(
      1 + 2 * kValueOverhead + error_code.size() + error_message.size() +
      (error_details ? EncodedSizeBound(*error_details) : 1));
  ByteBufferStreamWriter writer(encoded.get());
  writer.PutByte(kErrorEnvelope);
  WriteString(*serializer_, error_code, &writer);
  // An empty message goes out as null, not as an empty string.
  if (error_message.empty()) {
    serializer_->WriteValue(NullValueRef(), &writer);
  } else {
    WriteString(*serializer_, error_message, &writer);
  }
  serializer_->WriteValue(error_details ? *error_details : NullValueRef(),
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
