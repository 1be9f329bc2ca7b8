#ifndef TESTS_CODEC_CODEC_TEST_SUPPORT_H_
#define TESTS_CODEC_CODEC_TEST_SUPPORT_H_

#include <cstdint>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "codec/byte_buffer_stream_reader.h"
#include "codec/byte_buffer_stream_writer.h"
#include "codec/encodable_value.h"
#include "codec/standard_codec_serializer.h"

namespace flutter::testing {

inline constexpr char kInvalidRead[] =
    "Invalid read in StandardCodecByteStreamReader\n";

// Collects everything written to std::cerr while alive.
class CerrCapture {
 public:
  CerrCapture() : saved_(std::cerr.rdbuf(captured_.rdbuf())) {}
  ~CerrCapture() { std::cerr.rdbuf(saved_); }
  CerrCapture(const CerrCapture&) = delete;
  CerrCapture& operator=(const CerrCapture&) = delete;

  std::string text() const { return captured_.str(); }

 private:
  std::ostringstream captured_;
  std::streambuf* saved_;
};

// Returns `line` repeated `count` times.
inline std::string Lines(const std::string& line, int count) {
  std::string all;
  for (int i = 0; i < count; ++i) all += line;
  return all;
}

// Parses space-separated hex bytes such as "07 03 61".
inline std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::istringstream in(text);
  std::string token;
  while (in >> token) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
  }
  return bytes;
}

inline std::vector<uint8_t> Encode(const EncodableValue& value) {
  std::vector<uint8_t> bytes;
  ByteBufferStreamWriter writer(&bytes);
  StandardCodecSerializer::SharedInstance().WriteValue(value, &writer);
  return bytes;
}

inline EncodableValue Decode(const std::vector<uint8_t>& bytes) {
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  return StandardCodecSerializer::SharedInstance().ReadTaggedValue(&reader);
}

template <typename T>
bool SameBits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() &&
         (a.empty() ||
          std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// Compares values exactly: doubles and floats by bit pattern, so NaN payloads
// and signed zeros count.
inline bool SameValue(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) return false;
  if (auto* x = std::get_if<double>(&a)) {
    return std::memcmp(x, std::get_if<double>(&b), sizeof(double)) == 0;
  }
  if (auto* x = std::get_if<std::vector<double>>(&a)) {
    return SameBits(*x, std::get<std::vector<double>>(b));
  }
  if (auto* x = std::get_if<std::vector<float>>(&a)) {
    return SameBits(*x, std::get<std::vector<float>>(b));
  }
  if (auto* x = std::get_if<ValueList>(&a)) {
    const auto& y = std::get<ValueList>(b);
    if (x->size() != y.size()) return false;
    for (size_t i = 0; i < x->size(); ++i) {
      if (!SameValue((*x)[i], y[i])) return false;
    }
    return true;
  }
  if (auto* x = std::get_if<ValueMap>(&a)) {
    const auto& y = std::get<ValueMap>(b);
    if (x->size() != y.size()) return false;
    for (auto i = x->begin(), j = y.begin(); i != x->end(); ++i, ++j) {
      if (!SameValue(i->first, j->first) || !SameValue(i->second, j->second)) {
        return false;
      }
    }
    return true;
  }
  return a == b;
}

}  // namespace flutter::testing

#endif  // TESTS_CODEC_CODEC_TEST_SUPPORT_H_
