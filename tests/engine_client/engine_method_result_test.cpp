#include "engine_client/engine_method_result.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "codec/standard_method_codec.h"
#include "tests/engine_client/stderr_capture.h"

namespace flutter::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kDuplicateResult[] =
    "Error: Only one of Success, Error, or NotImplemented can be called, and "
    "it can be called exactly once. Ignoring duplicate result.\n";
constexpr char kLeakWarning[] =
    "Warning: Failed to respond to a message. This is a memory leak.\n";

// One call of a ReplySink.
struct Sent {
  bool null_data;
  std::vector<uint8_t> data;
};

class EngineMethodResultTest : public ::testing::Test {
 protected:
  // Returns a sink that records each call into sent_.
  ReplySink Recorder() {
    return [this](const uint8_t* data, size_t size) {
      sent_.push_back(
          {data == nullptr, data == nullptr
                                ? std::vector<uint8_t>()
                                : std::vector<uint8_t>(data, data + size)});
      ASSERT_TRUE(data != nullptr || size == 0);
    };
  }

  std::unique_ptr<EngineMethodResult> NewResult() {
    return std::make_unique<EngineMethodResult>(
        Recorder(), &StandardMethodCodec::SharedInstance());
  }

  std::vector<Sent> sent_;
};

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

TEST_F(EngineMethodResultTest, SuccessWithoutValueSendsNullSuccessEnvelope) {
  NewResult()->Success();
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_FALSE(sent_[0].null_data);
  EXPECT_THAT(sent_[0].data, ElementsAre(0x00, 0x00));
}

TEST_F(EngineMethodResultTest, SuccessWithValueSendsItsEnvelope) {
  NewResult()->Success(EncodableValue(std::string("connected")));
  ASSERT_EQ(sent_.size(), 1u);
  std::vector<uint8_t> expected = {0x00, 0x07, 0x09};
  for (uint8_t byte : Bytes("connected")) expected.push_back(byte);
  EXPECT_EQ(sent_[0].data, expected);
}

TEST_F(EngineMethodResultTest, ErrorWithoutDetailsSendsErrorEnvelope) {
  const std::string message = "Another tunnel operation is in progress";
  NewResult()->Error("busy", message);
  ASSERT_EQ(sent_.size(), 1u);
  std::vector<uint8_t> expected = {0x01, 0x07, 0x04, 'b', 'u',
                                   's',  'y',  0x07, 0x27};
  for (uint8_t byte : Bytes(message)) expected.push_back(byte);
  expected.push_back(0x00);
  EXPECT_EQ(sent_[0].data, expected);
}

TEST_F(EngineMethodResultTest, ErrorWithEmptyMessageSendsNullMessage) {
  NewResult()->Error("busy");
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_THAT(sent_[0].data,
              ElementsAre(0x01, 0x07, 0x04, 'b', 'u', 's', 'y', 0x00, 0x00));
}

TEST_F(EngineMethodResultTest, NotImplementedSendsEmptyReply) {
  NewResult()->NotImplemented();
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_TRUE(sent_[0].null_data);
  EXPECT_THAT(sent_[0].data, IsEmpty());
}

TEST_F(EngineMethodResultTest, LaterCompletionsOnlyReportDuplicates) {
  StderrCapture err;
  {
    auto result = NewResult();
    result->Success();
    result->Error("late");
    result->NotImplemented();
  }
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_THAT(sent_[0].data, ElementsAre(0x00, 0x00));
  EXPECT_EQ(err.text(), std::string(kDuplicateResult) + kDuplicateResult);
}

TEST_F(EngineMethodResultTest, DroppedOpenResultWarnsOnceAndSendsNothing) {
  StderrCapture err;
  NewResult().reset();
  EXPECT_THAT(sent_, IsEmpty());
  EXPECT_EQ(err.text(), kLeakWarning);
}

TEST_F(EngineMethodResultTest, AnsweredResultIsDestroyedSilently) {
  StderrCapture err;
  NewResult()->Error("x", "y");
  NewResult()->NotImplemented();
  EXPECT_EQ(sent_.size(), 2u);
  EXPECT_EQ(err.text(), "");
}

}  // namespace
}  // namespace flutter::testing
