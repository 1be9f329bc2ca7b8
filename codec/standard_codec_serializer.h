#ifndef CODEC_STANDARD_CODEC_SERIALIZER_H_
#define CODEC_STANDARD_CODEC_SERIALIZER_H_

#include <cstddef>
#include <cstdint>

#include "codec/byte_stream_reader.h"
#include "codec/byte_stream_writer.h"
#include "codec/encodable_value.h"

namespace flutter {

// Encodes and decodes EncodableValue in the standard binary message format.
// Stateless; WriteValue and ReadValueOfType are the extension points, and
// nested values go through them, so an override applies at every depth.
class StandardCodecSerializer {
 public:
  // Values nested deeper than this read as null.
  static constexpr int kMaxNestingDepth = 1000;
  // The largest size the size field can carry.
  static constexpr uint64_t kMaxSize = 0xFFFFFFFFu;

  StandardCodecSerializer();
  virtual ~StandardCodecSerializer();

  StandardCodecSerializer(const StandardCodecSerializer&) = delete;
  StandardCodecSerializer& operator=(const StandardCodecSerializer&) = delete;

  // Returns the process-wide serializer, created on first use.
  static const StandardCodecSerializer& SharedInstance();

  // Appends the encoding of `value` (tag and payload) to `stream`.
  virtual void WriteValue(const EncodableValue& value,
                          ByteStreamWriter* stream) const;

  // Reads one tag byte and then the value it introduces.
  EncodableValue ReadTaggedValue(ByteStreamReader* stream) const;

  // Reads the payload of a value whose tag `type` has already been read.
  virtual EncodableValue ReadValueOfType(uint8_t type,
                                         ByteStreamReader* stream) const;

  // Reads a size field (one byte, or 254/255 followed by 2 or 4 bytes).
  size_t ReadSizeField(ByteStreamReader* stream) const;

  // Writes `size` (at most kMaxSize) in the shortest size-field form.
  void WriteSizeField(size_t size, ByteStreamWriter* stream) const;
};

}  // namespace flutter

#endif  // CODEC_STANDARD_CODEC_SERIALIZER_H_
