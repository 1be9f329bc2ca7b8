// Arbitrary bytes as one tagged value: must never crash, and whatever decodes
// must encode deterministically and decode again to the same value.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codec/byte_buffer_stream_reader.h"
#include "codec/byte_buffer_stream_writer.h"
#include "codec/standard_codec_serializer.h"
#include "fuzz/fuzz_support.h"
#include "tests/codec/codec_test_support.h"

namespace {

std::vector<uint8_t> EncodeValue(const flutter::EncodableValue& value) {
  std::vector<uint8_t> bytes;
  flutter::ByteBufferStreamWriter writer(&bytes);
  flutter::StandardCodecSerializer::SharedInstance().WriteValue(value, &writer);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  flutter::fuzzing::SilenceStandardError();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto& serializer = flutter::StandardCodecSerializer::SharedInstance();
  flutter::ByteBufferStreamReader reader(data, size);
  flutter::EncodableValue value = serializer.ReadTaggedValue(&reader);
  if (flutter::fuzzing::HasNaNInKey(value)) return 0;

  std::vector<uint8_t> encoded = EncodeValue(value);
  flutter::ByteBufferStreamReader again(encoded.data(), encoded.size());
  flutter::EncodableValue decoded = serializer.ReadTaggedValue(&again);
  if (!flutter::testing::SameValue(decoded, value) ||
      again.location() != encoded.size() || EncodeValue(decoded) != encoded) {
    std::abort();
  }
  return 0;
}
