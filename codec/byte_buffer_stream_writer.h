#ifndef CODEC_BYTE_BUFFER_STREAM_WRITER_H_
#define CODEC_BYTE_BUFFER_STREAM_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/byte_stream_writer.h"

namespace flutter {

// Appends to a byte vector that the caller owns; the writer's position is the
// vector's length.
class ByteBufferStreamWriter : public ByteStreamWriter {
 public:
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer);
  ~ByteBufferStreamWriter() override;

  ByteBufferStreamWriter(const ByteBufferStreamWriter&) = delete;
  ByteBufferStreamWriter& operator=(const ByteBufferStreamWriter&) = delete;

  void PutByte(uint8_t byte) override;
  void PutBytes(const uint8_t* bytes, size_t length) override;
  void PadToAlignment(uint8_t alignment) override;

 private:
  std::vector<uint8_t>* buffer_;
};

}  // namespace flutter

#endif  // CODEC_BYTE_BUFFER_STREAM_WRITER_H_
