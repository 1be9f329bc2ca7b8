#ifndef CODEC_BYTE_STREAM_READER_H_
#define CODEC_BYTE_STREAM_READER_H_

#include <cstddef>
#include <cstdint>

namespace flutter {

// A source of bytes that the standard codec decodes from.
class ByteStreamReader {
 public:
  virtual ~ByteStreamReader() = default;

  // Reads one byte; 0 after an invalid read.
  virtual uint8_t GetByte() = 0;

  // Copies `length` bytes into `buffer`, or leaves it untouched after an
  // invalid read.
  virtual void GetBytes(uint8_t* buffer, size_t length) = 0;

  // Moves to the next multiple of `alignment` counted from the start of the
  // message.
  virtual void SkipToAlignment(uint8_t alignment) = 0;

  // Returns how many bytes are left before the end of the input. The decoder
  // bounds every declared size by it, so a corrupt size cannot demand more
  // memory or work than the message itself holds.
  virtual size_t BytesRemaining() const = 0;

  // Returns how many bytes SkipToAlignment(alignment) would skip now.
  virtual size_t PaddingTo(uint8_t alignment) const = 0;

  // Returns the next `length` bytes in place and moves past them, when the
  // reader holds its input in memory and that many bytes are left; returns
  // nullptr without moving otherwise (the caller then uses GetBytes). Lets
  // strings and byte lists be built with a single copy.
  virtual const uint8_t* TakeInPlace(size_t length) {
    (void)length;
    return nullptr;
  }

  // Writes the line that reports a read beyond the end of the input to
  // standard error. Readers and the decoder share it so the text is one.
  static void ReportInvalidRead();
};

}  // namespace flutter

#endif  // CODEC_BYTE_STREAM_READER_H_
