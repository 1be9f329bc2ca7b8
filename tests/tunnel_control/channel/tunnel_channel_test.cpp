// The handler's own replies: stage, argument checks, the guard and method
// names.
#include "app/tunnel_control/channel/tunnel_channel.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/tunnel_control/common/error_texts.h"
#include "tests/tunnel_control/channel/channel_test_support.h"

namespace tunnel_control::testing {
namespace {

class TunnelChannelTest : public ::testing::Test {
 protected:
  std::shared_ptr<Reply> Send(const flutter::MethodCall<EncodableValue>& call) {
    auto reply = std::make_shared<Reply>();
    HandleTunnelCall(window_.hwnd(), call, RecordInto(reply));
    return reply;
  }

  std::shared_ptr<Reply> SendConnect(const std::string& config) {
    return Send(Call("connect", ConfigArgument(EncodableValue(config))));
  }

  static void ExpectError(const Reply& reply, const ErrorText& text) {
    EXPECT_EQ(reply.answers, 1);
    EXPECT_EQ(reply.kind, Reply::Kind::kError);
    EXPECT_EQ(reply.code, text.code);
    EXPECT_EQ(reply.message, text.message);
    EXPECT_FALSE(reply.has_details);
  }

  // Waits for the runner's reply and checks that it was a plain success.
  static void ExpectLaterSuccess(const std::shared_ptr<Reply>& reply) {
    ASSERT_TRUE(PumpUntil([&] { return reply->answers > 0; }));
    EXPECT_EQ(reply->answers, 1);
    EXPECT_EQ(reply->kind, Reply::Kind::kSuccess);
    EXPECT_FALSE(reply->value.has_value());
    EXPECT_EQ(reply->answer_thread, GetCurrentThreadId());
  }

  FakeServices services_;
  TaskWindow window_;
};

TEST_F(TunnelChannelTest, StageAnswersAtOnceWithTheServiceStage) {
  services_.stage = "connected";
  auto reply = Send(Call("stage"));
  EXPECT_EQ(reply->answers, 1);
  EXPECT_EQ(reply->kind, Reply::Kind::kSuccess);
  EXPECT_EQ(reply->value, EncodableValue(std::string("connected")));
  EXPECT_TRUE(reply->destroyed);
}

TEST_F(TunnelChannelTest, UnusableConfigIsBadArgsAndTheNextConnectIsAccepted) {
  const std::vector<std::pair<const char*, EncodableValue>> unusable = {
      {"no argument", EncodableValue()},
      {"a list", EncodableValue(flutter::ValueList{
                     EncodableValue(std::string("config")),
                     EncodableValue(std::string("[Interface]"))})},
      {"config an integer", ConfigArgument(EncodableValue(int32_t{7}))},
      {"config empty", ConfigArgument(EncodableValue(std::string()))},
      {"no config key", EncodableValue(flutter::ValueMap{
                            {EncodableValue(std::string("conf")),
                             EncodableValue(std::string("[Interface]"))}})},
  };
  for (const auto& [what, argument] : unusable) {
    SCOPED_TRACE(what);
    auto refused = Send(Call("connect", argument));
    ExpectError(*refused, kBadArgs);
    EXPECT_FALSE(operation_in_progress);

    auto accepted = SendConnect("[Interface]");
    EXPECT_EQ(accepted->answers, 0);
    ExpectLaterSuccess(accepted);
  }
  EXPECT_EQ(services_.started, static_cast<int>(unusable.size()));
}

TEST_F(TunnelChannelTest, ConnectPassesTheConfigUnchangedAndIgnoresOtherKeys) {
  const std::string config("[Interface]\r\nAddress = 10.0.0.2/32\n\0x", 37);
  auto reply = Send(
      Call("connect",
           EncodableValue(flutter::ValueMap{
               {EncodableValue(int32_t{1}), EncodableValue(true)},
               {EncodableValue(std::string("config")), EncodableValue(config)},
               {EncodableValue(std::string("mtu")),
                EncodableValue(int32_t{1420})}})));
  ExpectLaterSuccess(reply);
  EXPECT_EQ(services_.last_config, config);
}

TEST_F(TunnelChannelTest, OperationInProgressRefusesOthersButNotStage) {
  Gate gate;
  services_.connect = [&](const std::string&, OpError*) {
    gate.Wait();
    return true;
  };
  auto first = SendConnect("[Interface]");
  EXPECT_TRUE(operation_in_progress);

  ExpectError(*SendConnect("[Interface]"), kBusy);
  ExpectError(*Send(Call("disconnect")), kBusy);
  // The argument is checked before the guard.
  ExpectError(*SendConnect(""), kBadArgs);

  services_.stage = "connecting";
  auto stage = Send(Call("stage"));
  EXPECT_EQ(stage->answers, 1);
  EXPECT_EQ(stage->value, EncodableValue(std::string("connecting")));

  EXPECT_TRUE(operation_in_progress);
  EXPECT_EQ(first->answers, 0);
  gate.Open();
  ExpectLaterSuccess(first);
  EXPECT_FALSE(operation_in_progress);
  EXPECT_EQ(services_.started, 1);

  ExpectLaterSuccess(Send(Call("disconnect", EncodableValue(int32_t{5}))));
}

// Out of memory anywhere while a call is accepted leaves the guard free,
// so later calls are not refused as "busy" for good.
TEST_F(TunnelChannelTest, AllocationFailureWhileAcceptingLeavesTheGuardFree) {
  for (const char* method : {"connect", "disconnect"}) {
    SCOPED_TRACE(method);
    const EncodableValue argument = ConfigArgument(EncodableValue("x"));
    for (int count = 0;; ++count) {
      auto reply = std::make_shared<Reply>();
      auto result = RecordInto(reply);
      const auto call = Call(method, argument);
      FailAllocationAfter(count);
      bool threw = false;
      try {
        HandleTunnelCall(window_.hwnd(), call, std::move(result));
      } catch (const std::bad_alloc&) {
        threw = true;
      }
      FailAllocationAfter(-1);
      if (!threw) {
        ASSERT_TRUE(PumpUntil([&] { return reply->answers > 0; }));
        break;
      }
      ASSERT_FALSE(operation_in_progress) << "failed allocation " << count;
    }
    EXPECT_FALSE(operation_in_progress);
  }
}

TEST_F(TunnelChannelTest, NamesMatchOnlyExactly) {
  for (const char* name :
       {"Stage", "STAGE", "stage ", " stage", "Connect", "connect ",
        "disconnect ", "Disconnect", "", "stag", "connected"}) {
    SCOPED_TRACE(name);
    auto reply = Send(
        Call(name, ConfigArgument(EncodableValue(std::string("[Interface]")))));
    EXPECT_EQ(reply->answers, 1);
    EXPECT_EQ(reply->kind, Reply::Kind::kNotImplemented);
  }
  EXPECT_FALSE(operation_in_progress);
  EXPECT_EQ(services_.started, 0);
}

}  // namespace
}  // namespace tunnel_control::testing
