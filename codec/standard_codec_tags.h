// The type tag that opens each value of the standard message encoding.
#ifndef CODEC_STANDARD_CODEC_TAGS_H_
#define CODEC_STANDARD_CODEC_TAGS_H_

#include <cstdint>

namespace flutter {

enum Tag : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,
  kFloat64 = 6,
  kString = 7,
  kUInt8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

}  // namespace flutter

#endif  // CODEC_STANDARD_CODEC_TAGS_H_
