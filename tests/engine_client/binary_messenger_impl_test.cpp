#include "engine_client/binary_messenger_impl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/engine_client/stderr_capture.h"
#include "tests/engine_fakes/fake_messenger_engine.h"

namespace flutter::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr char kDuplicateResponse[] =
    "Error: Response can be set only once. Ignoring duplicate response.\n";

class BinaryMessengerImplTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_.Reset();
    messenger_ = std::make_unique<BinaryMessengerImpl>(fake_.CreateMessenger());
  }

  void TearDown() override {
    replies_.clear();
    messenger_.reset();
    // Only the engine side's own reference may remain.
    EXPECT_LE(fake_.references(), 1);
    EXPECT_THAT(fake_.faults(), IsEmpty());
    fake_.Reset();
  }

  // Installs a handler on `channel` that keeps the reply of every message.
  void KeepReplies(const std::string& channel) {
    messenger_->SetChannelHandler(
        channel, [this](const uint8_t*, size_t, ReplySink reply) {
          replies_.push_back(std::move(reply));
        });
  }

  FakeMessengerEngine& fake_ = FakeMessengerEngine::Get();
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  std::vector<ReplySink> replies_;
};

TEST_F(BinaryMessengerImplTest, ReplacingHandlerKeepsAddressAndRunsNewer) {
  int first = 0;
  int second = 0;
  messenger_->SetChannelHandler(
      "ch", [&](const uint8_t*, size_t, ReplySink) { ++first; });
  messenger_->SetChannelHandler(
      "ch", [&](const uint8_t*, size_t, ReplySink) { ++second; });
  ASSERT_EQ(fake_.set_callback_calls.size(), 2u);
  EXPECT_EQ(fake_.set_callback_calls[0].user_data,
            fake_.set_callback_calls[1].user_data);
  EXPECT_EQ(fake_.set_callback_calls[1].callback,
            &BinaryMessengerImpl::OnEngineMessage);

  fake_.DeliverMessage("ch", {});
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
}

TEST_F(BinaryMessengerImplTest, HandlersOfOtherChannelsKeepTheirAddress) {
  KeepReplies("b");
  void* address_of_b = fake_.set_callback_calls[0].user_data;
  // Growing the map must not move a stored handler the engine points at.
  for (int i = 0; i < 50; ++i) {
    KeepReplies("a" + std::to_string(i));
  }
  fake_.DeliverMessage("b", {});
  EXPECT_EQ(replies_.size(), 1u);
  EXPECT_EQ(fake_.set_callback_calls.back().channel, "a49");
  EXPECT_NE(fake_.set_callback_calls.back().user_data, address_of_b);
}

TEST_F(BinaryMessengerImplTest, RemovingHandlerUnregistersAndDestroysIt) {
  auto probe = std::make_shared<int>(0);
  messenger_->SetChannelHandler("ch",
                                [probe](const uint8_t*, size_t, ReplySink) {});
  EXPECT_EQ(probe.use_count(), 2);

  messenger_->SetChannelHandler("ch", nullptr);
  EXPECT_EQ(probe.use_count(), 1);
  ASSERT_EQ(fake_.set_callback_calls.size(), 2u);
  EXPECT_EQ(fake_.set_callback_calls[1].callback, nullptr);
  EXPECT_EQ(fake_.set_callback_calls[1].user_data, nullptr);
  EXPECT_EQ(fake_.DeliverMessage("ch", {}), -1);
}

TEST_F(BinaryMessengerImplTest, HandlerMayReplaceOrRemoveItselfWhileRunning) {
  // A handler that uninstalls itself must still be able to use what it
  // captured afterwards.
  std::string seen;
  const std::string tag(64, 'r');
  messenger_->SetChannelHandler(
      "ch", [this, &seen, tag](const uint8_t*, size_t, ReplySink) {
        messenger_->SetChannelHandler(
            "ch", [&seen](const uint8_t*, size_t, ReplySink) { seen += "+"; });
        seen += tag.substr(0, 1);
      });
  fake_.DeliverMessage("ch", {});
  fake_.DeliverMessage("ch", {});
  EXPECT_EQ(seen, "r+");

  messenger_->SetChannelHandler(
      "gone", [this, &seen, tag](const uint8_t*, size_t, ReplySink) {
        messenger_->SetChannelHandler("gone", nullptr);
        seen += tag.substr(0, 1);
      });
  fake_.DeliverMessage("gone", {});
  EXPECT_EQ(seen, "r+r");
  EXPECT_EQ(fake_.DeliverMessage("gone", {}), -1);
}

TEST_F(BinaryMessengerImplTest, RemovingAbsentHandlerStillUnregisters) {
  messenger_->SetChannelHandler("never", nullptr);
  ASSERT_EQ(fake_.set_callback_calls.size(), 1u);
  EXPECT_EQ(fake_.set_callback_calls[0].channel, "never");
  EXPECT_EQ(fake_.set_callback_calls[0].callback, nullptr);
  EXPECT_EQ(fake_.set_callback_calls[0].user_data, nullptr);
}

TEST_F(BinaryMessengerImplTest, DestroyingMessengerDoesNotUnregister) {
  auto probe = std::make_shared<int>(0);
  messenger_->SetChannelHandler("ch",
                                [probe](const uint8_t*, size_t, ReplySink) {});
  messenger_.reset();
  EXPECT_EQ(probe.use_count(), 1);
  EXPECT_EQ(fake_.set_callback_calls.size(), 1u);
}

TEST_F(BinaryMessengerImplTest, ReplySendsBytesUnderLock) {
  KeepReplies("ch");
  const int id = fake_.DeliverMessage("ch", {9});
  const uint8_t answer[] = {4, 5};
  replies_[0](answer, sizeof(answer));
  ASSERT_EQ(fake_.responses().size(), 1u);
  EXPECT_EQ(fake_.responses()[0].message_id, id);
  EXPECT_THAT(fake_.responses()[0].data, ElementsAre(4, 5));
}

TEST_F(BinaryMessengerImplTest, ReplyCalledTwiceSendsOnceAndReportsOnce) {
  KeepReplies("ch");
  fake_.DeliverMessage("ch", {});
  StderrCapture err;
  replies_[0](nullptr, 0);
  replies_[0](nullptr, 0);
  EXPECT_EQ(fake_.responses().size(), 1u);
  EXPECT_TRUE(fake_.responses()[0].null_data);
  EXPECT_EQ(err.text(), kDuplicateResponse);
}

TEST_F(BinaryMessengerImplTest, ReplyAfterEngineGoneSendsNothingSilently) {
  KeepReplies("ch");
  fake_.DeliverMessage("ch", {});
  fake_.RetireMessenger();
  StderrCapture err;
  const uint8_t answer[] = {1};
  replies_[0](answer, 1);
  EXPECT_THAT(fake_.responses(), IsEmpty());
  EXPECT_EQ(err.text(), "");
}

TEST_F(BinaryMessengerImplTest, ReplyHoldsMessengerReferenceUntilDestroyed) {
  KeepReplies("ch");
  fake_.DeliverMessage("ch", {});
  fake_.DeliverMessage("ch", {});
  EXPECT_EQ(fake_.references(), 3);

  // The engine goes first; the messenger lives on for the pending replies.
  fake_.RetireMessenger();
  EXPECT_EQ(fake_.references(), 2);
  replies_.pop_back();
  EXPECT_EQ(fake_.references(), 1);
  replies_.clear();
  EXPECT_EQ(fake_.references(), 0);
}

TEST_F(BinaryMessengerImplTest, ThrowingHandlerIsReportedAndAnsweredOnce) {
  struct NotAStandardException {};
  const struct {
    const char* name;
    bool answers_first;
    std::function<void()> raise;
    const char* reported;
  } cases[] = {
      {"out of memory", false, [] { throw std::bad_alloc(); },
       std::bad_alloc().what()},
      {"non-standard", false, [] { throw NotAStandardException(); },
       "an exception of unknown type"},
      {"after answering", true, [] { throw std::runtime_error("late"); },
       "late"},
  };
  for (const auto& c : cases) {
    // The handler also keeps its reply, as one that hands it on would.
    messenger_->SetChannelHandler("ch",
                                  [&](const uint8_t*, size_t, ReplySink reply) {
                                    const uint8_t answer[] = {7};
                                    if (c.answers_first) reply(answer, 1);
                                    replies_.push_back(reply);
                                    c.raise();
                                  });
    StderrCapture err;
    const int id = fake_.DeliverMessage("ch", {});
    EXPECT_THAT(err.text(), HasSubstr("threw: " + std::string(c.reported)))
        << c.name;
    // A late answer through the kept reply finds the message answered.
    replies_.back()(nullptr, 0);
    EXPECT_THAT(err.text(), HasSubstr(kDuplicateResponse)) << c.name;
    const std::vector<Response> responses = fake_.responses();
    ASSERT_EQ(responses.size(), replies_.size()) << c.name;
    EXPECT_EQ(responses.back().message_id, id);
    EXPECT_EQ(responses.back().null_data, !c.answers_first) << c.name;
  }
}

TEST_F(BinaryMessengerImplTest, RecordSmallerThanItsViewIsReportedAndDropped) {
  KeepReplies("ch");
  for (size_t size : {sizeof(size_t), sizeof(FlutterDesktopMessage) - 1}) {
    fake_.message_record_size = size;
    StderrCapture err;
    fake_.DeliverMessage("ch", {1});
    EXPECT_THAT(err.text(), HasSubstr("Dropping a message record of " +
                                      std::to_string(size) + " bytes"));
  }
  EXPECT_THAT(replies_, IsEmpty());
  // A later library may hand over a longer record; the known part is read.
  fake_.message_record_size = sizeof(FlutterDesktopMessage) + 16;
  fake_.DeliverMessage("ch", {1});
  EXPECT_EQ(replies_.size(), 1u);
}

TEST_F(BinaryMessengerImplTest, SendWithoutReplyUsesPlainSend) {
  const uint8_t message[] = {7, 8};
  messenger_->Send("out", message, sizeof(message), nullptr);
  ASSERT_EQ(fake_.sent_messages.size(), 1u);
  EXPECT_EQ(fake_.sent_messages[0].channel, "out");
  EXPECT_THAT(fake_.sent_messages[0].message, ElementsAre(7, 8));
  EXPECT_EQ(fake_.sent_messages[0].reply, nullptr);
}

TEST_F(BinaryMessengerImplTest, SendWithReplyDeliversAnswerOnce) {
  std::vector<std::vector<uint8_t>> answers;
  const uint8_t message[] = {1};
  messenger_->Send("out", message, 1, [&](const uint8_t* data, size_t size) {
    answers.emplace_back(data, data + size);
  });
  ASSERT_EQ(fake_.sent_messages.size(), 1u);
  const SentMessage& sent = fake_.sent_messages[0];
  ASSERT_EQ(sent.reply, &BinaryMessengerImpl::OnEngineReply);
  const uint8_t answer[] = {3, 4};
  sent.reply(answer, sizeof(answer), sent.user_data);
  EXPECT_THAT(answers, ElementsAre(ElementsAre(3, 4)));
}

TEST_F(BinaryMessengerImplTest, ThrowingReplySinkIsReportedAndFreed) {
  auto probe = std::make_shared<int>(0);
  messenger_->Send("out", nullptr, 0,
                   [probe](const uint8_t*, size_t) { throw std::bad_alloc(); });
  const SentMessage& sent = fake_.sent_messages.at(0);
  StderrCapture err;
  sent.reply(nullptr, 0, sent.user_data);
  EXPECT_THAT(err.text(),
              HasSubstr(std::string("threw: ") + std::bad_alloc().what()));
  EXPECT_EQ(probe.use_count(), 1);
}

TEST_F(BinaryMessengerImplTest, RefusedSendWithReplyNeverCallsReply) {
  fake_.refuse_send_with_reply = true;
  auto probe = std::make_shared<int>(0);
  bool called = false;
  messenger_->Send("out", nullptr, 0,
                   [probe, &called](const uint8_t*, size_t) { called = true; });
  EXPECT_FALSE(called);
  // The saved reply was freed at once.
  EXPECT_EQ(probe.use_count(), 1);
  EXPECT_THAT(fake_.sent_messages, IsEmpty());
}

}  // namespace
}  // namespace flutter::testing
