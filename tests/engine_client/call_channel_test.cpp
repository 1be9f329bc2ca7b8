#include "engine_client/call_channel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "codec/encodable_value.h"
#include "codec/standard_method_codec.h"
#include "engine_client/binary_messenger_impl.h"
#include "tests/engine_client/stderr_capture.h"
#include "tests/engine_fakes/fake_messenger_engine.h"

namespace flutter::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::IsEmpty;

using Result = std::unique_ptr<MethodResult<EncodableValue>>;

// "connect" with the map {"config": "x"}.
const std::vector<uint8_t> kConnectCall = {
    0x07, 0x07, 'c', 'o', 'n', 'n', 'e', 'c', 't',  0x0D, 0x01,
    0x07, 0x06, 'c', 'o', 'n', 'f', 'i', 'g', 0x07, 0x01, 'x'};
// "stage" without arguments.
const std::vector<uint8_t> kStageCall = {0x07, 0x05, 's', 't',
                                         'a',  'g',  'e', 0x00};

class CallChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.Reset();
    messenger_ = std::make_unique<BinaryMessengerImpl>(fake_.CreateMessenger());
  }

  void TearDown() override {
    messenger_.reset();
    EXPECT_THAT(fake_.faults(), IsEmpty());
    fake_.Reset();
  }

  CallChannel Channel() {
    return CallChannel(messenger_.get(), "varn/test",
                       &StandardMethodCodec::SharedInstance());
  }

  FakeMessengerEngine& fake_ = FakeMessengerEngine::Get();
  std::unique_ptr<BinaryMessengerImpl> messenger_;
};

TEST_F(CallChannelTest, HandlerReceivesDecodedCall) {
  std::string name;
  std::string config;
  Channel().SetMethodHandler(
      [&](const MethodCall<EncodableValue>& call, Result result) {
        name = call.call_name();
        const auto& arguments = std::get<ValueMap>(*call.call_arguments());
        config = std::get<std::string>(
            arguments.at(EncodableValue(std::string("config"))));
        result->Success();
      });
  fake_.DeliverMessage("varn/test", kConnectCall);
  EXPECT_EQ(name, "connect");
  EXPECT_EQ(config, "x");
  ASSERT_EQ(fake_.responses().size(), 1u);
  EXPECT_THAT(fake_.responses()[0].data, ElementsAre(0x00, 0x00));
}

TEST_F(CallChannelTest, UndecodableMessageGetsEmptyReplyWithoutHandler) {
  bool called = false;
  Channel().SetMethodHandler(
      [&](const MethodCall<EncodableValue>&, Result) { called = true; });
  StderrCapture err;
  // An int32 where the method name should be.
  fake_.DeliverMessage("varn/test", {0x03, 0x01, 0x00, 0x00, 0x00});
  EXPECT_FALSE(called);
  ASSERT_EQ(fake_.responses().size(), 1u);
  EXPECT_TRUE(fake_.responses()[0].null_data);
  EXPECT_THAT(err.text(),
              EndsWith("Unable to construct method call from message on "
                       "channel varn/test\n"));
  EXPECT_EQ(err.text().find("memory leak"), std::string::npos);
}

TEST_F(CallChannelTest, ResultKeptByHandlerAnswersLater) {
  Result kept;
  Channel().SetMethodHandler([&](const MethodCall<EncodableValue>&,
                                 Result result) { kept = std::move(result); });
  const int id = fake_.DeliverMessage("varn/test", kStageCall);
  EXPECT_THAT(fake_.responses(), IsEmpty());
  kept->Success(EncodableValue(std::string("connected")));
  ASSERT_EQ(fake_.responses().size(), 1u);
  EXPECT_EQ(fake_.responses()[0].message_id, id);
  EXPECT_EQ(fake_.responses()[0].data.size(), 12u);
}

TEST_F(CallChannelTest, ResultAnsweredAfterEngineGoneIsSilent) {
  Result kept;
  Channel().SetMethodHandler([&](const MethodCall<EncodableValue>&,
                                 Result result) { kept = std::move(result); });
  fake_.DeliverMessage("varn/test", kStageCall);
  fake_.RetireMessenger();
  StderrCapture err;
  kept->Error("late", "too late");
  kept.reset();
  EXPECT_THAT(fake_.responses(), IsEmpty());
  EXPECT_EQ(err.text(), "");
  EXPECT_EQ(fake_.references(), 0);
}

TEST_F(CallChannelTest, DroppedResultLeavesMessageUnanswered) {
  Channel().SetMethodHandler([](const MethodCall<EncodableValue>&, Result) {});
  StderrCapture err;
  fake_.DeliverMessage("varn/test", kStageCall);
  EXPECT_THAT(fake_.responses(), IsEmpty());
  EXPECT_EQ(err.text(),
            "Warning: Failed to respond to a message. This is a memory "
            "leak.\n");
}

TEST_F(CallChannelTest, InstalledHandlerOutlivesChannelObject) {
  int calls = 0;
  {
    CallChannel channel = Channel();
    channel.SetMethodHandler(
        [&calls](const MethodCall<EncodableValue>&, Result result) {
          ++calls;
          result->NotImplemented();
        });
  }
  fake_.DeliverMessage("varn/test", kStageCall);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(fake_.responses().size(), 1u);
}

TEST_F(CallChannelTest, NewHandlerReplacesOldAndEmptyOneRemoves) {
  std::string ran;
  Channel().SetMethodHandler(
      [&](const MethodCall<EncodableValue>&, Result result) {
        ran += "old";
        result->Success();
      });
  Channel().SetMethodHandler(
      [&](const MethodCall<EncodableValue>&, Result result) {
        ran += "new";
        result->Success();
      });
  fake_.DeliverMessage("varn/test", kStageCall);
  EXPECT_EQ(ran, "new");

  Channel().SetMethodHandler(nullptr);
  EXPECT_EQ(fake_.set_callback_calls.back().callback, nullptr);
  EXPECT_EQ(fake_.DeliverMessage("varn/test", kStageCall), -1);
}

}  // namespace
}  // namespace flutter::testing
