// Thousands of calls in random order against quick operations: every call is
// answered exactly once, on the window thread, and operations never overlap.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "app/tunnel_control/channel/tunnel_channel.h"
#include "app/tunnel_control/common/error_texts.h"
#include "tests/tunnel_control/channel/channel_test_support.h"

namespace tunnel_control::testing {
namespace {

enum class Sent { kStage, kConnect, kBadConnect, kDisconnect, kUnknown };

TEST(ChannelStressTest, EveryCallIsAnsweredOnceAndOperationsNeverOverlap) {
  FakeServices services;
  services.connect = [](const std::string& config, OpError* error) {
    if (config.back() == '!') {
      error->code = kTunnelFailedCode;
      error->message = config;
      return false;
    }
    return true;
  };
  services.disconnect = [](OpError* error) {
    Sleep(0);
    error->code = kStopFailedCode;
    return true;
  };
  TaskWindow window;

  std::mt19937 random(20261207);
  std::vector<std::pair<Sent, std::shared_ptr<Reply>>> calls;
  constexpr int kCalls = 4000;
  for (int i = 0; i < kCalls; ++i) {
    auto reply = std::make_shared<Reply>();
    const int pick = static_cast<int>(random() % 20);
    Sent sent = Sent::kUnknown;
    std::string name = "Connect";
    EncodableValue argument;
    if (pick < 4) {
      sent = Sent::kStage;
      name = "stage";
    } else if (pick < 10) {
      sent = Sent::kConnect;
      name = "connect";
      argument = ConfigArgument(
          EncodableValue(std::to_string(i) + (pick < 6 ? "!" : "")));
    } else if (pick < 12) {
      sent = Sent::kBadConnect;
      name = "connect";
      argument = ConfigArgument(EncodableValue(int64_t{i}));
    } else if (pick < 18) {
      sent = Sent::kDisconnect;
      name = "disconnect";
    }
    HandleTunnelCall(window.hwnd(), Call(name, argument), RecordInto(reply));
    calls.emplace_back(sent, std::move(reply));
    // Deliver finished replies at random moments, as a busy UI would.
    if (random() % 3 == 0) PumpUntil([] { return true; });
    if (random() % 8 == 0) Sleep(static_cast<DWORD>(random() % 2));
  }
  // Generous: on a loaded machine Wine may take long to run the last
  // threads; the wait ends as soon as every call is answered.
  ASSERT_TRUE(PumpUntil(
      [&] {
        for (const auto& [sent, reply] : calls) {
          if (reply->answers == 0 || !reply->destroyed) return false;
        }
        return true;
      },
      60000));

  int operations_answered = 0;
  int busy = 0;
  for (const auto& [sent, reply] : calls) {
    ASSERT_EQ(reply->answers, 1);
    ASSERT_EQ(reply->answer_thread, GetCurrentThreadId());
    switch (sent) {
      case Sent::kStage:
        ASSERT_EQ(reply->kind, Reply::Kind::kSuccess);
        break;
      case Sent::kBadConnect:
        ASSERT_EQ(reply->code, kBadArgs.code);
        break;
      case Sent::kUnknown:
        ASSERT_EQ(reply->kind, Reply::Kind::kNotImplemented);
        break;
      case Sent::kConnect:
      case Sent::kDisconnect:
        if (reply->code == kBusy.code) {
          ++busy;
        } else {
          ++operations_answered;
          ASSERT_TRUE(reply->kind == Reply::Kind::kSuccess ||
                      reply->code == kTunnelFailedCode);
        }
        break;
    }
  }
  EXPECT_EQ(operations_answered, services.started);
  EXPECT_GT(operations_answered, 50);
  EXPECT_GT(busy, 0);
  EXPECT_EQ(services.most_running, 1);
  EXPECT_FALSE(tunnel_control::operation_in_progress);
}

}  // namespace
}  // namespace tunnel_control::testing
