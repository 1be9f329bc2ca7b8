#include "codec/standard_method_codec.h"

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/codec/codec_test_support.h"

namespace flutter::testing {
namespace {

using testing::CerrCapture;
using testing::Hex;
using testing::kInvalidRead;
using testing::Lines;
using Bytes = std::vector<uint8_t>;

constexpr char kNotAString[] =
    "Invalid method call; method name is not a string.\n";

const StandardMethodCodec& Codec() {
  return StandardMethodCodec::SharedInstance();
}

Bytes Ascii(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Records which hook a reply reached and with what.
class RecordingResult : public MethodResult<EncodableValue> {
 public:
  std::vector<std::string> calls;
  std::optional<EncodableValue> value;
  std::string code;
  std::string message;

 protected:
  void OnSuccess(const EncodableValue* result) override {
    calls.push_back(result ? "success(value)" : "success()");
    if (result) value = *result;
  }
  void OnError(const std::string& error_code, const std::string& error_message,
               const EncodableValue* details) override {
    calls.push_back(details ? "error(details)" : "error()");
    code = error_code;
    message = error_message;
    if (details) value = *details;
  }
  void OnNotImplemented() override { calls.push_back("not_implemented"); }
};

TEST(StandardMethodCodecTest, CallsOnTheWire) {
  MethodCall<EncodableValue> stage("stage", nullptr);
  EXPECT_EQ(*Codec().SerializeMethodCall(stage),
            Hex("07 05 73 74 61 67 65 00"));

  MethodCall<EncodableValue> connect(
      "connect", std::make_unique<EncodableValue>(ValueMap{{"config", "x"}}));
  Bytes expected =
      Hex("07 07 63 6F 6E 6E 65 63 74 0D 01 07 06 63 6F 6E 66 69 67 07 01 78");
  EXPECT_EQ(*Codec().SerializeMethodCall(connect), expected);

  CerrCapture cerr;
  auto call = Codec().ParseMethodCall(expected.data(), expected.size());
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->call_name(), "connect");
  ASSERT_NE(call->call_arguments(), nullptr);
  EXPECT_EQ(*call->call_arguments(), EncodableValue(ValueMap{{"config", "x"}}));
  EXPECT_EQ(cerr.text(), "");
}

TEST(StandardMethodCodecTest, CallWithoutArgumentsByteHasNullArguments) {
  CerrCapture cerr;
  Bytes bytes = Hex("07 05 73 74 61 67 65");
  auto call = Codec().ParseMethodCall(bytes.data(), bytes.size());
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->call_name(), "stage");
  ASSERT_NE(call->call_arguments(), nullptr);
  EXPECT_TRUE(call->call_arguments()->IsNull());
  EXPECT_EQ(cerr.text(), kInvalidRead);
}

TEST(StandardMethodCodecTest, MessagesWithoutANameYieldNoCall) {
  {
    CerrCapture cerr;
    Bytes bytes = Hex("03 01 00 00 00 07 01 61");
    EXPECT_EQ(Codec().ParseMethodCall(bytes.data(), bytes.size()), nullptr);
    EXPECT_EQ(cerr.text(), kNotAString);
  }
  {
    CerrCapture cerr;
    EXPECT_EQ(Codec().ParseMethodCall(nullptr, 0), nullptr);
    EXPECT_EQ(cerr.text(), std::string(kInvalidRead) + kNotAString);
  }
}

TEST(StandardMethodCodecTest, SuccessEnvelopes) {
  EXPECT_EQ(*Codec().EncodeSuccessReply(nullptr), Hex("00 00"));
  EncodableValue connected("connected");
  EXPECT_EQ(*Codec().EncodeSuccessReply(&connected),
            Concat({Hex("00 07 09"), Ascii("connected")}));
  // The envelope byte counts towards the float's alignment.
  EncodableValue one(1.0);
  EXPECT_EQ(*Codec().EncodeSuccessReply(&one),
            Hex("00 06 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F"));
}

TEST(StandardMethodCodecTest, ErrorEnvelopes) {
  const std::string kBusy = "Another tunnel operation is in progress";
  ASSERT_EQ(kBusy.size(), 0x27u);
  EXPECT_EQ(*Codec().EncodeErrorReply("busy", kBusy, nullptr),
            Concat({Hex("01 07 04"), Ascii("busy"), Hex("07 27"), Ascii(kBusy),
                    Hex("00")}));
  // An empty message goes out as null; an empty code stays a string.
  EXPECT_EQ(*Codec().EncodeErrorReply("busy", "", nullptr),
            Hex("01 07 04 62 75 73 79 00 00"));
  EncodableValue details(ValueList{1});
  EXPECT_EQ(*Codec().EncodeErrorReply("", "m", &details),
            Hex("01 07 00 07 01 6D 0C 01 03 01 00 00 00"));
}

TEST(StandardMethodCodecTest, RepliesReachTheMatchingHook) {
  {
    RecordingResult result;
    Bytes bytes = Hex("00 00");
    EXPECT_TRUE(
        Codec().ParseReplyEnvelope(bytes.data(), bytes.size(), &result));
    EXPECT_EQ(result.calls, std::vector<std::string>{"success()"});
  }
  {
    RecordingResult result;
    Bytes bytes = Hex("00 03 05 00 00 00");
    EXPECT_TRUE(
        Codec().ParseReplyEnvelope(bytes.data(), bytes.size(), &result));
    EXPECT_EQ(result.calls, std::vector<std::string>{"success(value)"});
    EXPECT_EQ(result.value, EncodableValue(5));
  }
  {
    RecordingResult result;
    auto bytes = Codec().EncodeErrorReply("code", "text", nullptr);
    EXPECT_TRUE(
        Codec().ParseReplyEnvelope(bytes->data(), bytes->size(), &result));
    EXPECT_EQ(result.calls, std::vector<std::string>{"error()"});
    EXPECT_EQ(result.code, "code");
    EXPECT_EQ(result.message, "text");
  }
  {
    RecordingResult result;
    EncodableValue details("why");
    auto bytes = Codec().EncodeErrorReply("code", "", &details);
    EXPECT_TRUE(
        Codec().ParseReplyEnvelope(bytes->data(), bytes->size(), &result));
    EXPECT_EQ(result.calls, std::vector<std::string>{"error(details)"});
    EXPECT_EQ(result.message, "");  // the null message reads as empty text
    EXPECT_EQ(result.value, details);
  }
}

TEST(StandardMethodCodecTest, MalformedReplies) {
  {
    RecordingResult result;
    Bytes bytes = Hex("02");
    EXPECT_FALSE(
        Codec().ParseReplyEnvelope(bytes.data(), bytes.size(), &result));
    EXPECT_TRUE(result.calls.empty());
  }
  {
    CerrCapture cerr;
    RecordingResult result;
    EXPECT_TRUE(Codec().ParseReplyEnvelope(nullptr, 0, &result));
    EXPECT_EQ(result.calls, std::vector<std::string>{"success()"});
    EXPECT_EQ(cerr.text(), Lines(kInvalidRead, 2));
  }
  for (const char* bytes_text :
       {"01 03 01 00 00 00 00 00", "01 07 00 03 01 00 00 00 00"}) {
    SCOPED_TRACE(bytes_text);
    RecordingResult result;
    Bytes bytes = Hex(bytes_text);
    try {
      Codec().ParseReplyEnvelope(bytes.data(), bytes.size(), &result);
      ADD_FAILURE() << "no exception";
    } catch (const std::bad_variant_access& error) {
      EXPECT_STREQ(error.what(), "bad variant access");
    }
    EXPECT_TRUE(result.calls.empty());
  }
}

TEST(StandardMethodCodecTest, SharedInstancePerSerializer) {
  EXPECT_EQ(&StandardMethodCodec::SharedInstance(),
            &StandardMethodCodec::SharedInstance());
  EXPECT_EQ(&StandardMethodCodec::SharedInstance(),
            &StandardMethodCodec::SharedInstance(
                &StandardCodecSerializer::SharedInstance()));

  // A codec for another serializer writes with that serializer.
  class TrueAsFalse : public StandardCodecSerializer {
   public:
    void WriteValue(const EncodableValue& value,
                    ByteStreamWriter* stream) const override {
      if (value == EncodableValue(true)) {
        stream->PutByte(2);
        return;
      }
      StandardCodecSerializer::WriteValue(value, stream);
    }
  };
  static const TrueAsFalse serializer;
  const StandardMethodCodec& codec =
      StandardMethodCodec::SharedInstance(&serializer);
  EXPECT_NE(&codec, &StandardMethodCodec::SharedInstance());
  EXPECT_EQ(&codec, &StandardMethodCodec::SharedInstance(&serializer));
  EncodableValue list(ValueList{true});
  EXPECT_EQ(*codec.EncodeSuccessReply(&list), Hex("00 0C 01 02"));
}

TEST(StandardMethodCodecTest, NamesAndErrorTextsGoThroughTheSerializer) {
  // An extension sees every string of an envelope, also the ones the codec
  // holds as plain text rather than as values.
  class UpperCaseStrings : public StandardCodecSerializer {
   public:
    void WriteValue(const EncodableValue& value,
                    ByteStreamWriter* stream) const override {
      if (const auto* text = std::get_if<std::string>(&value)) {
        std::string upper = *text;
        for (char& c : upper) c = static_cast<char>(std::toupper(c));
        StandardCodecSerializer::WriteValue(EncodableValue(upper), stream);
        return;
      }
      StandardCodecSerializer::WriteValue(value, stream);
    }
  };
  static const UpperCaseStrings serializer;
  const StandardMethodCodec& codec =
      StandardMethodCodec::SharedInstance(&serializer);

  EXPECT_EQ(
      *codec.SerializeMethodCall(MethodCall<EncodableValue>("ab", nullptr)),
      Hex("07 02 41 42 00"));
  EXPECT_EQ(*codec.EncodeErrorReply("c", "m", nullptr),
            Hex("01 07 01 43 07 01 4D 00"));
  EXPECT_EQ(*codec.EncodeErrorReply("c", "", nullptr),
            Hex("01 07 01 43 00 00"));
}

}  // namespace
}  // namespace flutter::testing
