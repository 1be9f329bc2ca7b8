#ifndef CODEC_BYTE_BUFFER_STREAM_READER_H_
#define CODEC_BYTE_BUFFER_STREAM_READER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/byte_stream_reader.h"

namespace flutter {

// Reads in place from a byte range that the caller owns and keeps alive for
// the reader's lifetime. A failed read writes one line to standard error and
// leaves the location unchanged. The reads are defined here so that the
// decoder, when it knows it has exactly this class, can inline them.
class ByteBufferStreamReader : public ByteStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* bytes, size_t size);
  ~ByteBufferStreamReader() override;

  ByteBufferStreamReader(const ByteBufferStreamReader&) = delete;
  ByteBufferStreamReader& operator=(const ByteBufferStreamReader&) = delete;

  uint8_t GetByte() override {
    if (location_ >= size_) {
      ReportInvalidRead();
      return 0;
    }
    return bytes_[location_++];
  }

  void GetBytes(uint8_t* buffer, size_t length) override {
    // Written so that a huge length cannot wrap the sum around.
    if (location_ > size_ || length > size_ - location_) {
      ReportInvalidRead();
      return;
    }
    if (length != 0) std::memcpy(buffer, bytes_ + location_, length);
    location_ += length;
  }

  void SkipToAlignment(uint8_t alignment) override {
    // No bounds check on purpose: passing the end is reported by the next
    // read.
    location_ += PaddingTo(alignment);
  }

  size_t BytesRemaining() const override {
    return location_ < size_ ? size_ - location_ : 0;
  }

  size_t PaddingTo(uint8_t alignment) const override {
    if (alignment == 0) return 0;
    size_t misalignment = location_ % alignment;
    return misalignment == 0 ? 0 : alignment - misalignment;
  }

  const uint8_t* TakeInPlace(size_t length) override {
    if (bytes_ == nullptr || location_ > size_ || length > size_ - location_) {
      return nullptr;
    }
    const uint8_t* start = bytes_ + location_;
    location_ += length;
    return start;
  }

  // Returns the current location in bytes from the start of the range.
  size_t location() const { return location_; }

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t location_ = 0;
};

}  // namespace flutter

#endif  // CODEC_BYTE_BUFFER_STREAM_READER_H_
