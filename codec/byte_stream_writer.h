#ifndef CODEC_BYTE_STREAM_WRITER_H_
#define CODEC_BYTE_STREAM_WRITER_H_

#include <cstddef>
#include <cstdint>

namespace flutter {

// A sink of bytes that the standard codec encodes into.
class ByteStreamWriter {
 public:
  virtual ~ByteStreamWriter() = default;

  // Appends one byte.
  virtual void PutByte(uint8_t byte) = 0;

  // Appends `length` bytes in one block.
  virtual void PutBytes(const uint8_t* bytes, size_t length) = 0;

  // Appends zero bytes until the output length is a multiple of `alignment`.
  virtual void PadToAlignment(uint8_t alignment) = 0;
};

}  // namespace flutter

#endif  // CODEC_BYTE_STREAM_WRITER_H_
