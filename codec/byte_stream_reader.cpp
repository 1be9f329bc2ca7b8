#include "codec/byte_stream_reader.h"

#include <iostream>

namespace flutter {

void ByteStreamReader::ReportInvalidRead() {
  std::cerr << "Invalid read in StandardCodecByteStreamReader" << std::endl;
}

}  // namespace flutter
