// The type tag that opens each value of the standard message encoding.
#ifndef CODEC_STANDARD_CODEC_TAGS_H_
#define CODEC_STANDARD_CODEC_TAGS_H_

#include <cstdint>

namespace flutter {

// The tags run from 0 in this order; the encoding's tests pin their bytes.
enum Tag : uint8_t {
  kNull,
  kTrue,
  kFalse,
  kInt32,
  kInt64,
  kLargeInt,
  kFloat64,
  kString,
  kUInt8List,
  kInt32List,
  kInt64List,
  kFloat64List,
  kList,
  kMap,
  kFloat32List
};
static_assert(kString == 7 && kFloat32List == 14);

}  // namespace flutter

#endif  // CODEC_STANDARD_CODEC_TAGS_H_
