#ifndef CODEC_BYTE_BUFFER_STREAM_READER_H_
#define CODEC_BYTE_BUFFER_STREAM_READER_H_

#include <cstddef>
#include <cstdint>

#include "codec/byte_stream_reader.h"

namespace flutter {

// Reads in place from a byte range that the caller owns and keeps alive for
// the reader's lifetime. A failed read writes one line to standard error and
// leaves the location unchanged.
class ByteBufferStreamReader : public ByteStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* bytes, size_t size);
  ~ByteBufferStreamReader() override;

  ByteBufferStreamReader(const ByteBufferStreamReader&) = delete;
  ByteBufferStreamReader& operator=(const ByteBufferStreamReader&) = delete;

  uint8_t GetByte() override;
  void GetBytes(uint8_t* buffer, size_t length) override;
  void SkipToAlignment(uint8_t alignment) override;
  size_t BytesRemaining() const override;
  size_t PaddingTo(uint8_t alignment) const override;
  const uint8_t* TakeInPlace(size_t length) override;

  // Returns the current location in bytes from the start of the range.
  size_t location() const { return location_; }

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t location_ = 0;
};

}  // namespace flutter

#endif  // CODEC_BYTE_BUFFER_STREAM_READER_H_
