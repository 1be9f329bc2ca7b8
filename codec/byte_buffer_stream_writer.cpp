#include "codec/byte_buffer_stream_writer.h"

namespace flutter {

ByteBufferStreamWriter::ByteBufferStreamWriter(std::vector<uint8_t>* buffer)
    : buffer_(buffer) {}

ByteBufferStreamWriter::~ByteBufferStreamWriter() = default;

void ByteBufferStreamWriter::PutByte(uint8_t byte) { buffer_->push_back(byte); }

void ByteBufferStreamWriter::PutBytes(const uint8_t* bytes, size_t length) {
  if (length == 0) return;
  // A range insert grows the vector geometrically, like push_back.
  buffer_->insert(buffer_->end(), bytes, bytes + length);
}

void ByteBufferStreamWriter::PadToAlignment(uint8_t alignment) {
  if (alignment == 0) return;
  size_t misalignment = buffer_->size() % alignment;
  if (misalignment == 0) return;
  for (size_t i = misalignment; i < alignment; ++i) PutByte(0);
}

}  // namespace flutter
