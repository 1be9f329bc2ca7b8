#include "codec/byte_buffer_stream_reader.h"

#include <cstring>

namespace flutter {

ByteBufferStreamReader::ByteBufferStreamReader(const uint8_t* bytes,
                                               size_t size)
    : bytes_(bytes), size_(size) {}

ByteBufferStreamReader::~ByteBufferStreamReader() = default;

uint8_t ByteBufferStreamReader::GetByte() {
  if (location_ >= size_) {
    ReportInvalidRead();
    return 0;
  }
  return bytes_[location_++];
}

void ByteBufferStreamReader::GetBytes(uint8_t* buffer, size_t length) {
  // Written so that a huge length cannot wrap the sum around.
  if (location_ > size_ || length > size_ - location_) {
    ReportInvalidRead();
    return;
  }
  if (length != 0) std::memcpy(buffer, bytes_ + location_, length);
  location_ += length;
}

void ByteBufferStreamReader::SkipToAlignment(uint8_t alignment) {
  // No bounds check on purpose: passing the end is reported by the next read.
  location_ += PaddingTo(alignment);
}

size_t ByteBufferStreamReader::BytesRemaining() const {
  return location_ < size_ ? size_ - location_ : 0;
}

size_t ByteBufferStreamReader::PaddingTo(uint8_t alignment) const {
  if (alignment == 0) return 0;
  size_t misalignment = location_ % alignment;
  return misalignment == 0 ? 0 : alignment - misalignment;
}

const uint8_t* ByteBufferStreamReader::TakeInPlace(size_t length) {
  if (bytes_ == nullptr || location_ > size_ || length > size_ - location_) {
    return nullptr;
  }
  const uint8_t* start = bytes_ + location_;
  location_ += length;
  return start;
}

}  // namespace flutter
