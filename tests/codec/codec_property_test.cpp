// Round-trip properties of the codec over many seeded random values.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "codec/byte_buffer_stream_reader.h"
#include "codec/byte_buffer_stream_writer.h"
#include "codec/encodable_value.h"
#include "codec/standard_codec_serializer.h"
#include "codec/standard_method_codec.h"
#include "tests/codec/codec_test_support.h"

namespace flutter::testing {
namespace {

using testing::CerrCapture;
using testing::SameValue;
using Bytes = std::vector<uint8_t>;

// Builds random values covering every encodable alternative, with sizes on
// both sides of each size-field boundary.
class ValueGenerator {
 public:
  explicit ValueGenerator(uint64_t seed) : random_(seed) {}

  EncodableValue Next(int depth = 0) { return Next(depth, false); }

  // Returns how often each boundary size of Size() was chosen.
  const std::vector<int>& edge_hits() const { return edge_hits_; }

 private:
  // `in_key` keeps NaN out of map keys: a NaN is equivalent to every double,
  // which no ordered map can hold consistently.
  EncodableValue Next(int depth, bool in_key) {
    // Containers get rarer with depth so values stay small.
    int kind = Pick(0, depth < 3 ? 12 : 10);
    switch (kind) {
      case 0:
        return EncodableValue();
      case 1:
        return EncodableValue(Pick(0, 1) == 1);
      case 2:
        return EncodableValue(static_cast<int32_t>(random_()));
      case 3:
        return EncodableValue(static_cast<int64_t>(random_()));
      case 4:
        return EncodableValue(Double(in_key));
      case 5: {
        std::string text(Size(depth), '\0');
        for (char& c : text) c = static_cast<char>(random_());
        return EncodableValue(std::move(text));
      }
      case 6: {
        std::vector<uint8_t> list(Size(depth));
        for (auto& element : list) element = static_cast<uint8_t>(random_());
        return EncodableValue(std::move(list));
      }
      case 7:
        return EncodableValue(Filled<int32_t>(depth));
      case 8:
        return EncodableValue(Filled<int64_t>(depth));
      case 9: {
        std::vector<double> list(Size(depth));
        for (double& element : list) element = Double(in_key);
        return EncodableValue(std::move(list));
      }
      case 10: {
        std::vector<float> list(Size(depth));
        for (float& element : list) {
          element = static_cast<float>(Double(in_key));
        }
        return EncodableValue(std::move(list));
      }
      case 11: {
        // Element counts across the one-byte size limit, at the top only.
        bool long_list = depth == 0 && Pick(0, 9) == 0;
        ValueList list(long_list ? Pick(250, 258) : Pick(0, 5));
        for (auto& element : list) {
          element = Next(long_list ? 3 : depth + 1, in_key);
        }
        return EncodableValue(std::move(list));
      }
      default: {
        ValueMap map;
        int entries = Pick(0, 6);
        for (int i = 0; i < entries; ++i) {
          EncodableValue key = Next(depth + 1, true);
          map[std::move(key)] = Next(depth + 1, in_key);
        }
        return EncodableValue(std::move(map));
      }
    }
  }

  int Pick(int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random_);
  }

  // Mostly small sizes; sometimes right at a size-field boundary (the
  // two-byte one only at the top, to keep values small).
  size_t Size(int depth) {
    static constexpr size_t kEdges[] = {252, 253, 254, 255, 65535, 65536};
    int roll = Pick(0, 99);
    if (roll < 90) return static_cast<size_t>(Pick(0, 9));
    int edge = (roll < 98 || depth > 0) ? Pick(0, 3) : Pick(4, 5);
    ++edge_hits_[edge];
    return kEdges[edge];
  }

  template <typename T>
  std::vector<T> Filled(int depth) {
    std::vector<T> list(Size(depth));
    for (T& element : list) element = static_cast<T>(random_());
    return list;
  }

  double Double(bool in_key) {
    switch (Pick(in_key ? 1 : 0, 5)) {
      case 0:
        return std::numeric_limits<double>::quiet_NaN();
      case 1:
        return -0.0;
      case 2:
        return std::numeric_limits<double>::infinity();
      default:
        return std::uniform_real_distribution<double>(-1e9, 1e9)(random_);
    }
  }

  std::mt19937_64 random_;
  std::vector<int> edge_hits_ = std::vector<int>(6);
};

Bytes Encode(const EncodableValue& value, size_t envelope) {
  Bytes bytes(envelope, 0xEE);
  ByteBufferStreamWriter writer(&bytes);
  StandardCodecSerializer::SharedInstance().WriteValue(value, &writer);
  return bytes;
}

TEST(CodecPropertyTest, RandomValuesRoundTripAndEncodeDeterministically) {
  ValueGenerator generator(0x5eed2026);
  CerrCapture cerr;
  for (int i = 0; i < 3000; ++i) {
    EncodableValue value = generator.Next();
    // Behind no envelope and behind a one-byte envelope, so every padding
    // rule runs at two different offsets.
    for (size_t envelope : {0u, 1u}) {
      Bytes bytes = Encode(value, envelope);
      ByteBufferStreamReader reader(bytes.data(), bytes.size());
      for (size_t skip = 0; skip < envelope; ++skip) reader.GetByte();
      EncodableValue decoded =
          StandardCodecSerializer::SharedInstance().ReadTaggedValue(&reader);
      ASSERT_TRUE(SameValue(decoded, value)) << "value " << i;
      ASSERT_EQ(reader.location(), bytes.size()) << "value " << i;
      ASSERT_EQ(Encode(decoded, envelope), bytes) << "value " << i;
      ASSERT_EQ(Encode(value, envelope), bytes) << "value " << i;
    }
  }
  EXPECT_EQ(cerr.text(), "");
  for (int hits : generator.edge_hits()) EXPECT_GT(hits, 0);
}

TEST(CodecPropertyTest, RandomRepliesRoundTrip) {
  ValueGenerator generator(20261207);
  const StandardMethodCodec& codec = StandardMethodCodec::SharedInstance();
  for (int i = 0; i < 500; ++i) {
    EncodableValue value = generator.Next();
    auto bytes = codec.EncodeSuccessReply(&value);
    struct Capture : MethodResult<EncodableValue> {
      EncodableValue seen{"unset"};
      void OnSuccess(const EncodableValue* result) override {
        seen = result ? *result : EncodableValue();
      }
      void OnError(const std::string&, const std::string&,
                   const EncodableValue*) override {}
      void OnNotImplemented() override {}
    } capture;
    ASSERT_TRUE(
        codec.ParseReplyEnvelope(bytes->data(), bytes->size(), &capture));
    ASSERT_TRUE(SameValue(capture.seen, value)) << "value " << i;
  }
}

}  // namespace
}  // namespace flutter::testing
