#include "codec/standard_codec_serializer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codec/byte_buffer_stream_reader.h"
#include "codec/byte_buffer_stream_writer.h"
#include "tests/codec/codec_test_support.h"

namespace flutter::testing {
namespace {

using testing::CerrCapture;
using testing::Decode;
using testing::Encode;
using testing::Hex;
using testing::kInvalidRead;
using testing::Lines;
using testing::SameValue;
using Bytes = std::vector<uint8_t>;
using Value = EncodableValue;

// Encodes `value`, expects `expected`, and decodes the bytes back to `value`,
// all without a line on standard error.
void ExpectWire(const EncodableValue& value, const Bytes& expected) {
  CerrCapture cerr;
  EXPECT_EQ(Encode(value), expected);
  EXPECT_TRUE(SameValue(Decode(expected), value));
  EXPECT_EQ(cerr.text(), "");
}

Bytes StringWire(const Bytes& size_field, size_t length) {
  Bytes wire{0x07};
  for (uint8_t byte : size_field) wire.push_back(byte);
  wire.resize(wire.size() + length, 'q');
  return wire;
}

TEST(StandardCodecSerializerTest, ScalarsOnTheWire) {
  ExpectWire(EncodableValue(), Hex("00"));
  ExpectWire(EncodableValue(true), Hex("01"));
  ExpectWire(EncodableValue(false), Hex("02"));
  ExpectWire(EncodableValue(int32_t{-2}), Hex("03 FE FF FF FF"));
  ExpectWire(EncodableValue(int64_t{1}), Hex("04 01 00 00 00 00 00 00 00"));
  ExpectWire(EncodableValue(1.0),
             Hex("06 00 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F"));
  ExpectWire(EncodableValue(""), Hex("07 00"));
}

TEST(StandardCodecSerializerTest, SizeFieldFormsAroundTheirLimits) {
  ExpectWire(EncodableValue(std::string(253, 'q')), StringWire(Hex("FD"), 253));
  ExpectWire(EncodableValue(std::string(254, 'q')),
             StringWire(Hex("FE FE 00"), 254));
  ExpectWire(EncodableValue(std::string(65535, 'q')),
             StringWire(Hex("FE FF FF"), 65535));
  ExpectWire(EncodableValue(std::string(65536, 'q')),
             StringWire(Hex("FF 00 00 01 00"), 65536));
}

TEST(StandardCodecSerializerTest, ReaderAcceptsLongSizeFormsForSmallSizes) {
  const auto& serializer = StandardCodecSerializer::SharedInstance();
  for (const Bytes& field :
       {Hex("FE 05 00"), Hex("FF 05 00 00 00"), Hex("05")}) {
    ByteBufferStreamReader reader(field.data(), field.size());
    EXPECT_EQ(serializer.ReadSizeField(&reader), 5u);
    EXPECT_EQ(reader.location(), field.size());
  }
  EXPECT_EQ(Decode(Hex("07 FE 02 00 61 62")), EncodableValue("ab"));
}

TEST(StandardCodecSerializerTest, SequencesOnTheWire) {
  ExpectWire(EncodableValue(std::vector<int32_t>{1}),
             Hex("09 01 00 00 01 00 00 00"));
  ExpectWire(EncodableValue(std::vector<uint8_t>{1, 2}), Hex("08 02 01 02"));
  ExpectWire(EncodableValue(std::vector<float>{1.0f}),
             Hex("0E 01 00 00 00 00 80 3F"));
  ExpectWire(EncodableValue(std::vector<int64_t>{-1}),
             Hex("0A 01 00 00 00 00 00 00 FF FF FF FF FF FF FF FF"));
  ExpectWire(EncodableValue(std::vector<double>{1.0}),
             Hex("0B 01 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F"));
  ExpectWire(EncodableValue(ValueList{"a", 1}),
             Hex("0C 02 07 01 61 03 01 00 00 00"));
}

TEST(StandardCodecSerializerTest, MapEntriesGoOutInKeyOrder) {
  ExpectWire(EncodableValue(ValueMap{{"b", 1}, {1, "b"}}),
             Hex("0D 02 03 01 00 00 00 07 01 62 07 01 62 03 01 00 00 00"));
}

TEST(StandardCodecSerializerTest, FirstOccurrenceOfAKeyWins) {
  CerrCapture cerr;
  EXPECT_EQ(
      Decode(Hex("0D 02 03 01 00 00 00 07 01 61 03 01 00 00 00 07 01 62")),
      EncodableValue(ValueMap{{1, "a"}}));
  EXPECT_EQ(cerr.text(), "");
}

TEST(StandardCodecSerializerTest, EmptyTypedListsStillAlign) {
  // The count ends at offset 4, so eight-byte elements start after 4 pad bytes
  // even though there are none; the next value follows the padding.
  ExpectWire(EncodableValue(ValueList{std::vector<int64_t>{}, true}),
             Hex("0C 02 0A 00 00 00 00 00 01"));
  ExpectWire(EncodableValue(ValueList{std::vector<float>{}, true}),
             Hex("0C 02 0E 00 01"));
  ExpectWire(EncodableValue(ValueList{"a", std::vector<int32_t>{}, 7}),
             Hex("0C 03 07 01 61 09 00 00 03 07 00 00 00"));
  ExpectWire(EncodableValue(ValueList{std::vector<double>{}}),
             Hex("0C 01 0B 00 00 00 00 00"));
}

TEST(StandardCodecSerializerTest, PaddingCountsFromTheMessageStart) {
  Bytes bytes = Hex("AA");
  ByteBufferStreamWriter writer(&bytes);
  StandardCodecSerializer::SharedInstance().WriteValue(
      EncodableValue(std::vector<int32_t>{2}), &writer);
  EXPECT_EQ(bytes, Hex("AA 09 01 00 02 00 00 00"));

  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  reader.GetByte();
  EXPECT_EQ(StandardCodecSerializer::SharedInstance().ReadTaggedValue(&reader),
            EncodableValue(std::vector<int32_t>{2}));
  EXPECT_EQ(reader.location(), bytes.size());
}

TEST(StandardCodecSerializerTest, TypedListsDecodeFromAnyAddress) {
  // Padding counts from the message start, so a message that itself starts
  // at an odd address leaves the elements misaligned in memory.
  const EncodableValue lists(
      ValueList{std::vector<int32_t>{1, -2, 3}, std::vector<int64_t>{-4},
                std::vector<double>{0.5, -1e300}, std::vector<float>{2.5f}});
  const Bytes encoded = Encode(lists);
  for (size_t offset = 0; offset < 8; ++offset) {
    std::vector<uint64_t> storage(encoded.size() / 8 + 2);
    uint8_t* start = reinterpret_cast<uint8_t*>(storage.data()) + offset;
    std::copy(encoded.begin(), encoded.end(), start);
    ByteBufferStreamReader reader(start, encoded.size());
    EXPECT_TRUE(SameValue(
        StandardCodecSerializer::SharedInstance().ReadTaggedValue(&reader),
        lists))
        << "offset " << offset;
    EXPECT_EQ(reader.location(), encoded.size());
  }
}

TEST(StandardCodecSerializerTest, TagFiveReadsAsString) {
  EXPECT_EQ(Decode(Hex("05 02 61 62")), EncodableValue("ab"));
}

TEST(StandardCodecSerializerTest, UnknownTagReadsAsNull) {
  CerrCapture cerr;
  EXPECT_TRUE(Decode(Hex("0F 01 02")).IsNull());
  EXPECT_TRUE(Decode(Hex("FF")).IsNull());
  EXPECT_EQ(cerr.text(),
            "Unknown type in StandardCodecSerializer::ReadValueOfType: 15\n"
            "Unknown type in StandardCodecSerializer::ReadValueOfType: 255\n");
}

TEST(StandardCodecSerializerTest, CustomValueIsWrittenAsNull) {
  CerrCapture cerr;
  EXPECT_EQ(Encode(EncodableValue(ValueList{CustomValue(3), 1})),
            Hex("0C 02 00 03 01 00 00 00"));
  EXPECT_EQ(cerr.text(),
            "Unhandled custom type in StandardCodecSerializer::WriteValue. "
            "Custom types require codec extensions.\n");
}

TEST(StandardCodecSerializerTest, ShortMessagesReadAsZeroOrNull) {
  {
    CerrCapture cerr;
    Bytes bytes = Hex("03 01 02");
    ByteBufferStreamReader reader(bytes.data(), bytes.size());
    EXPECT_EQ(
        StandardCodecSerializer::SharedInstance().ReadTaggedValue(&reader),
        EncodableValue(int32_t{0}));
    EXPECT_EQ(reader.location(), 1u);  // the short value consumed nothing
    EXPECT_EQ(cerr.text(), kInvalidRead);
  }
  {
    CerrCapture cerr;
    EXPECT_TRUE(Decode(Bytes{}).IsNull());
    EXPECT_EQ(cerr.text(), kInvalidRead);
  }
  {
    CerrCapture cerr;
    EXPECT_EQ(Decode(Hex("06 00 00 00 00 00 00 00 00 F0")),
              EncodableValue(0.0));
    EXPECT_EQ(cerr.text(), kInvalidRead);
  }
  {
    // A float64 tag at the very end: the alignment passes the end, and the
    // read after it fails.
    CerrCapture cerr;
    EXPECT_EQ(Decode(Hex("06")), EncodableValue(0.0));
    EXPECT_EQ(cerr.text(), kInvalidRead);
  }
  {
    // A count the bytes can hold, with its element cut short.
    CerrCapture cerr;
    EXPECT_EQ(Decode(Hex("0C 01 03 01")),
              EncodableValue(ValueList{int32_t{0}}));
    EXPECT_EQ(cerr.text(), kInvalidRead);
  }
}

// A declared size beyond what is left decodes as an empty value after one
// invalid-read line, and nothing after the size field is consumed.
struct HostileCase {
  const char* bytes;
  EncodableValue expected;
  size_t location_after;
};

TEST(StandardCodecSerializerTest, SizesBeyondTheMessageReadAsEmpty) {
  const HostileCase cases[] = {
      {"07 03 61", EncodableValue(""), 2},
      {"0C 02", EncodableValue(ValueList{}), 2},
      {"07 FF FF FF FF FF 61", EncodableValue(""), 6},
      {"05 FF FE FF FF FF", EncodableValue(""), 6},
      {"08 FF FF FF FF FF 01 02", EncodableValue(std::vector<uint8_t>{}), 6},
      {"09 FF FF FF FF 3F 00 00 01 00 00 00",
       EncodableValue(std::vector<int32_t>{}), 6},
      {"0E FF 00 00 00 40 00 00", EncodableValue(std::vector<float>{}), 6},
      {"0A FF FF FF FF 1F 00 00 00 00 00 00 00 00",
       EncodableValue(std::vector<int64_t>{}), 6},
      {"0B FE 02 00", EncodableValue(std::vector<double>{}), 4},
      {"0C FF FF FF FF FF 00 00", EncodableValue(ValueList{}), 6},
      {"0D FF FF FF FF FF 00 00", EncodableValue(ValueMap{}), 6},
      // Two entries need at least four bytes; three are left.
      {"0D 02 00 00 00", EncodableValue(ValueMap{}), 2},
      // An int32 list of one element needs the padding as well.
      {"09 01 00 01 00 00 00", EncodableValue(std::vector<int32_t>{}), 2},
      // An empty int64 list whose padding is missing at the end.
      {"0A 00", EncodableValue(std::vector<int64_t>{}), 2},
  };
  for (const HostileCase& test : cases) {
    SCOPED_TRACE(test.bytes);
    CerrCapture cerr;
    Bytes bytes = Hex(test.bytes);
    ByteBufferStreamReader reader(bytes.data(), bytes.size());
    EncodableValue value =
        StandardCodecSerializer::SharedInstance().ReadTaggedValue(&reader);
    EXPECT_TRUE(SameValue(value, test.expected));
    EXPECT_EQ(reader.location(), test.location_after);
    EXPECT_EQ(cerr.text(), kInvalidRead);
  }
}

TEST(StandardCodecSerializerTest, DecodingGoesOnAfterAHostileSize) {
  CerrCapture cerr;
  // The string's size is refused right after its size field, so the next
  // byte is read as the list's second element.
  EXPECT_EQ(Decode(Hex("0C 02 07 09 00")),
            EncodableValue(ValueList{"", Value()}));
  EXPECT_EQ(cerr.text(), kInvalidRead);
}

TEST(StandardCodecSerializerTest, NestedCountsShareTheRemainingBytes) {
  {
    // The outer list still needs two bytes for its last two elements, so the
    // inner list may claim only two of the four bytes after its count.
    CerrCapture cerr;
    EXPECT_EQ(Decode(Hex("0C 03 0C 03 00 00 00 00")),
              EncodableValue(ValueList{ValueList{}, Value(), Value()}));
    EXPECT_EQ(cerr.text(), kInvalidRead);
  }
  {
    // A map keeps two bytes back for every entry after the current one.
    CerrCapture cerr;
    EXPECT_EQ(Decode(Hex("0D 02 07 03 00 00 00 00 00")),
              EncodableValue(ValueMap{{"", Value()}, {Value(), Value()}}));
    EXPECT_EQ(cerr.text(), kInvalidRead);
  }
  {
    CerrCapture cerr;
    EXPECT_EQ(Decode(Hex("0C 03 0C 03 00 00 00 00 00")),
              EncodableValue(ValueList{ValueList{Value(), Value(), Value()},
                                       Value(), Value()}));
    EXPECT_EQ(Decode(Hex("0D 02 07 02 61 61 00 00 00")),
              EncodableValue(ValueMap{{"aa", Value()}, {Value(), Value()}}));
    EXPECT_EQ(cerr.text(), "");
  }
}

Bytes NestedLists(int depth) {
  Bytes bytes;
  for (int i = 0; i < depth; ++i) {
    bytes.push_back(0x0C);
    bytes.push_back(0x01);
  }
  bytes.push_back(0x00);
  return bytes;
}

int ListDepth(const EncodableValue& value) {
  int depth = 0;
  const EncodableValue* current = &value;
  while (const auto* list = std::get_if<ValueList>(current)) {
    ++depth;
    if (list->empty()) break;
    current = &list->front();
  }
  return depth;
}

// A map key nested `depth` levels deep around `innermost`: lists each holding
// the next level, or maps each keying the next level to null.
Bytes NestedKey(uint8_t container, int depth, uint8_t innermost) {
  Bytes bytes;
  for (int i = 0; i < depth; ++i) bytes.insert(bytes.end(), {container, 0x01});
  bytes.push_back(innermost);
  if (container == 0x0D) bytes.insert(bytes.end(), depth, 0x00);
  return bytes;
}

// A map whose entries are the given keys, each with a null value.
Bytes MapOfKeys(const std::vector<Bytes>& keys) {
  Bytes bytes{0x0D, static_cast<uint8_t>(keys.size())};
  for (const Bytes& key : keys) {
    bytes.insert(bytes.end(), key.begin(), key.end());
    bytes.push_back(0x00);
  }
  return bytes;
}

TEST(StandardCodecSerializerTest, NestingUpToTheLimitDecodes) {
  EXPECT_EQ(ListDepth(Decode(NestedLists(1000))), 1000);
  // Two keys nested to the limit (the outer map is the first level) must be
  // compared in time linear in their size: the first of two equal keys wins,
  // and keys differing only at the bottom stay apart, null before false.
  const Bytes list_key = NestedKey(0x0C, 999, 0x00);
  const Bytes map_key = NestedKey(0x0D, 999, 0x00);
  const struct {
    Bytes wire;
    Bytes encoded;
  } kCases[] = {
      {NestedLists(1000), NestedLists(1000)},
      {MapOfKeys({list_key, list_key}), MapOfKeys({list_key})},
      {MapOfKeys({map_key, map_key}), MapOfKeys({map_key})},
      {MapOfKeys({NestedKey(0x0D, 999, 0x02), map_key}),
       MapOfKeys({map_key, NestedKey(0x0D, 999, 0x02)})},
  };
  for (const auto& test : kCases) {
    CerrCapture cerr;
    EXPECT_EQ(Encode(Decode(test.wire)), test.encoded);
    EXPECT_EQ(cerr.text(), "");
  }
}

TEST(StandardCodecSerializerTest, NestingBeyondTheLimitReadsAsNull) {
  const std::string kTooDeep =
      "Nesting deeper than 1000 levels in "
      "StandardCodecSerializer::ReadValueOfType; value read as null.\n";
  {
    CerrCapture cerr;
    EncodableValue value = Decode(NestedLists(1001));
    EXPECT_EQ(ListDepth(value), 1000);
    EXPECT_EQ(cerr.text(), kTooDeep);
  }
  {
    // Far deeper than any stack could recurse through.
    CerrCapture cerr;
    EncodableValue value = Decode(NestedLists(200000));
    EXPECT_EQ(ListDepth(value), 1000);
    EXPECT_EQ(cerr.text(), kTooDeep);
  }
  {
    // Maps count as levels too: 1000 maps each keyed by null around a list.
    Bytes bytes;
    for (int i = 0; i < 1000; ++i) {
      bytes.insert(bytes.end(), {0x0D, 0x01, 0x00});
    }
    bytes.insert(bytes.end(), {0x0C, 0x00});
    CerrCapture cerr;
    EncodableValue value = Decode(bytes);
    const EncodableValue* current = &value;
    for (int i = 0; i < 1000; ++i) {
      current = &std::get<ValueMap>(*current).begin()->second;
    }
    EXPECT_TRUE(current->IsNull());
    EXPECT_EQ(cerr.text(), kTooDeep);
  }
}

TEST(ByteBufferStreamReaderTest, FailedReadsLeaveTheLocation) {
  CerrCapture cerr;
  Bytes bytes = Hex("01 02 03");
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  uint8_t target[4] = {9, 9, 9, 9};
  reader.GetBytes(target, 4);
  EXPECT_EQ(reader.location(), 0u);
  EXPECT_EQ(target[0], 9);
  reader.GetBytes(target, 3);
  EXPECT_EQ(target[2], 3);
  reader.GetBytes(target, 0);  // a zero-length read at the end succeeds
  EXPECT_EQ(reader.GetByte(), 0);
  EXPECT_EQ(reader.location(), 3u);
  reader.SkipToAlignment(8);  // may pass the end; the next read reports it
  EXPECT_EQ(reader.location(), 8u);
  EXPECT_EQ(reader.BytesRemaining(), 0u);
  reader.GetBytes(target, 0);
  EXPECT_EQ(cerr.text(), Lines(kInvalidRead, 3));
}

TEST(ByteBufferStreamWriterTest, PadsWithZerosToTheAlignment) {
  Bytes bytes = Hex("AA BB BB");
  ByteBufferStreamWriter writer(&bytes);
  writer.PadToAlignment(4);
  EXPECT_EQ(bytes, Hex("AA BB BB 00"));
  writer.PadToAlignment(4);
  EXPECT_EQ(bytes.size(), 4u);
  writer.PutBytes(nullptr, 0);
  writer.PutByte(0xCC);
  writer.PadToAlignment(8);
  EXPECT_EQ(bytes, Hex("AA BB BB 00 CC 00 00 00"));
}

// A derived serializer that carries a custom type, to show that the
// extension points apply to nested values.
struct Point {
  int32_t x;
};

class PointSerializer : public StandardCodecSerializer {
 public:
  void WriteValue(const EncodableValue& value,
                  ByteStreamWriter* stream) const override {
    if (const auto* custom = std::get_if<CustomValue>(&value)) {
      if (const Point* point = custom->TryGet<Point>()) {
        stream->PutByte(128);
        stream->PutByte(static_cast<uint8_t>(point->x));
        return;
      }
    }
    StandardCodecSerializer::WriteValue(value, stream);
  }
  EncodableValue ReadValueOfType(uint8_t type,
                                 ByteStreamReader* stream) const override {
    if (type == 128)
      return EncodableValue(CustomValue(Point{stream->GetByte()}));
    return StandardCodecSerializer::ReadValueOfType(type, stream);
  }
};

TEST(StandardCodecSerializerTest, ExtensionsApplyAtEveryDepth) {
  PointSerializer serializer;
  Bytes bytes;
  ByteBufferStreamWriter writer(&bytes);
  serializer.WriteValue(
      EncodableValue(ValueMap{{1, ValueList{CustomValue(Point{7})}}}), &writer);
  EXPECT_EQ(bytes, Hex("0D 01 03 01 00 00 00 0C 01 80 07"));

  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  EncodableValue value = serializer.ReadTaggedValue(&reader);
  const auto& list = std::get<ValueList>(std::get<ValueMap>(value).at(1));
  EXPECT_EQ(std::get<CustomValue>(list.at(0)).TryGet<Point>()->x, 7);
}

// A reader derived from the buffer reader that hides every byte it reads
// behind 0x07 ^ byte, so the decoded value shows whether its overrides ran.
class XorReader : public ByteBufferStreamReader {
 public:
  using ByteBufferStreamReader::ByteBufferStreamReader;
  uint8_t GetByte() override {
    return ByteBufferStreamReader::GetByte() ^ 0x07;
  }
  const uint8_t* TakeInPlace(size_t) override { return nullptr; }
  void GetBytes(uint8_t* buffer, size_t length) override {
    ByteBufferStreamReader::GetBytes(buffer, length);
    for (size_t i = 0; i < length; ++i) buffer[i] ^= 0x07;
  }
};

// The standard serializer reads a plain buffer reader without virtual calls;
// a derived reader must still get every read, at every depth.
TEST(StandardCodecSerializerTest, DerivedReaderOverridesApplyAtEveryDepth) {
  Bytes plain = Hex("0C 02 07 01 61 03 01 00 00 00");
  Bytes hidden(plain.size());
  std::transform(plain.begin(), plain.end(), hidden.begin(), [](uint8_t byte) {
    return static_cast<uint8_t>(byte ^ 0x07);
  });
  XorReader reader(hidden.data(), hidden.size());
  EncodableValue value =
      StandardCodecSerializer::SharedInstance().ReadTaggedValue(&reader);
  EXPECT_TRUE(SameValue(value, EncodableValue(ValueList{"a", int32_t{1}})));
}

TEST(StandardCodecSerializerTest, SharedInstanceIsOne) {
  EXPECT_EQ(&StandardCodecSerializer::SharedInstance(),
            &StandardCodecSerializer::SharedInstance());
}

}  // namespace
}  // namespace flutter::testing
