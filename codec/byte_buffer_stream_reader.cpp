#include "codec/byte_buffer_stream_reader.h"

namespace flutter {

ByteBufferStreamReader::ByteBufferStreamReader(const uint8_t* bytes,
                                               size_t size)
    : bytes_(bytes), size_(size) {}

// Out of line so the vtable has one home.
ByteBufferStreamReader::~ByteBufferStreamReader() = default;

}  // namespace flutter
