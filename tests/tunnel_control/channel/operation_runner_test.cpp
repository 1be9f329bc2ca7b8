// Delivery of operation outcomes: the reply texts, the window thread, a lost
// window and a thread that cannot be started.
#include "app/tunnel_control/channel/operation_runner.h"

#include <gtest/gtest.h>

#include <new>
#include <system_error>

#include "app/tunnel_control/common/error_texts.h"
#include "tests/tunnel_control/channel/channel_test_support.h"

namespace tunnel_control::testing {
namespace {

class OperationRunnerTest : public ::testing::Test {
 protected:
  std::shared_ptr<Reply> Send(const std::string& method, HWND window) {
    auto reply = std::make_shared<Reply>();
    HandleTunnelCall(
        window,
        Call(method, ConfigArgument(EncodableValue(std::string("[Peer]")))),
        RecordInto(reply));
    return reply;
  }
  std::shared_ptr<Reply> Send(const std::string& method) {
    return Send(method, window_.hwnd());
  }

  static void WaitForAnswer(const std::shared_ptr<Reply>& reply) {
    ASSERT_TRUE(PumpUntil([&] { return reply->answers > 0; }));
    EXPECT_EQ(reply->answers, 1);
    EXPECT_EQ(reply->answer_thread, GetCurrentThreadId());
    EXPECT_FALSE(operation_in_progress);
  }

  FakeServices services_;
  TaskWindow window_;
};

TEST_F(OperationRunnerTest, FailureAnswersTheRecordsCodeAndMessage) {
  services_.disconnect = [](OpError* error) {
    error->code = kStopFailedCode;
    error->message = "The tunnel service did not stop (error 1053)";
    return false;
  };
  auto reply = Send("disconnect");
  WaitForAnswer(reply);
  EXPECT_EQ(reply->kind, Reply::Kind::kError);
  EXPECT_EQ(reply->code, kStopFailedCode);
  EXPECT_EQ(reply->message, "The tunnel service did not stop (error 1053)");
  EXPECT_FALSE(reply->has_details);
}

TEST_F(OperationRunnerTest, FailureWithAnUntouchedRecordAnswersEmptyTexts) {
  services_.connect = [](const std::string&, OpError*) { return false; };
  auto reply = Send("connect");
  WaitForAnswer(reply);
  EXPECT_EQ(reply->kind, Reply::Kind::kError);
  EXPECT_EQ(reply->code, "");
  EXPECT_EQ(reply->message, "");
  EXPECT_FALSE(reply->has_details);
}

TEST_F(OperationRunnerTest, SuccessIgnoresWhatTheOperationWrote) {
  services_.connect = [](const std::string&, OpError* error) {
    error->code = kTunnelFailedCode;
    error->message = "ignored";
    return true;
  };
  auto reply = Send("connect");
  WaitForAnswer(reply);
  EXPECT_EQ(reply->kind, Reply::Kind::kSuccess);
  EXPECT_FALSE(reply->value.has_value());
}

TEST_F(OperationRunnerTest, NextCallIsAcceptedBeforeTheLastReplyArrives) {
  auto first = Send("connect");
  // Without pumping, the first reply waits in the queue while the guard is
  // already free.
  for (int i = 0; i < 5000 && operation_in_progress; ++i) Sleep(1);
  ASSERT_FALSE(operation_in_progress);
  EXPECT_EQ(first->answers, 0);
  auto second = Send("disconnect");
  EXPECT_EQ(second->answers, 0);  // accepted, not "busy"
  ASSERT_TRUE(PumpUntil([&] { return second->answers > 0; }));
  EXPECT_EQ(first->answers, 1);
  EXPECT_EQ(first->kind, Reply::Kind::kSuccess);
  EXPECT_EQ(second->kind, Reply::Kind::kSuccess);
  EXPECT_LT(first->sequence, second->sequence);
}

TEST_F(OperationRunnerTest, LostWindowLeavesTheCallUnansweredAndFreesIt) {
  Gate gate;
  services_.connect = [&](const std::string&, OpError*) {
    gate.Wait();
    return true;
  };
  auto reply = Send("connect");
  window_.Destroy();
  gate.Open();
  ASSERT_TRUE(PumpUntil([&] { return reply->destroyed.load(); }));
  EXPECT_EQ(reply->answers, 0);
  EXPECT_FALSE(operation_in_progress);

  TaskWindow other;
  WaitForAnswer(Send("connect", other.hwnd()));
}

TEST_F(OperationRunnerTest, ThreadStartFailureAnswersAtOnceAndFreesTheGuard) {
  // std::thread raises std::system_error when no thread can be made, and
  // std::bad_alloc when its state cannot be allocated.
  const tunnel_control::ThreadStarter failures[] = {
      [](tunnel_control::OperationJob) {
        throw std::system_error(
            std::make_error_code(std::errc::resource_unavailable_try_again));
      },
      [](tunnel_control::OperationJob) { throw std::bad_alloc(); },
  };
  int expected_started = 0;
  for (const tunnel_control::ThreadStarter failure : failures) {
    {
      tunnel_control::ScopedThreadStarter failing(failure);
      auto reply = Send("connect");
      EXPECT_EQ(reply->answers, 1);
      EXPECT_EQ(reply->kind, Reply::Kind::kError);
      EXPECT_EQ(reply->code, kThreadFailed.code);
      EXPECT_EQ(reply->message, kThreadFailed.message);
      EXPECT_FALSE(reply->has_details);
      EXPECT_TRUE(reply->destroyed);
      EXPECT_FALSE(operation_in_progress);
      EXPECT_EQ(services_.started, expected_started);
    }
    WaitForAnswer(Send("disconnect"));
    EXPECT_EQ(services_.started, ++expected_started);
  }
}

}  // namespace
}  // namespace tunnel_control::testing
