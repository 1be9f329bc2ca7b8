// Method results completed on worker threads, racing the engine's shutdown on
// the window thread. Run under ThreadSanitizer as well.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "codec/encodable_value.h"
#include "codec/method_call.h"
#include "codec/method_result.h"
#include "codec/standard_method_codec.h"
#include "engine_client/call_channel.h"
#include "engine_client/flutter_engine.h"
#include "engine_client/flutter_project.h"
#include "tests/engine_fakes/fake_messenger_engine.h"

namespace flutter::testing {
namespace {

using ::testing::IsEmpty;

// The call "stage" without arguments.
const std::vector<uint8_t> kStageCall = {0x07, 0x05, 's', 't',
                                         'a',  'g',  'e', 0x00};

class ReplyThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { fake_.Reset(); }
  void TearDown() override { fake_.Reset(); }

  // Starts an engine whose channel "varn/test" hands each result to a new
  // worker thread that answers it with `answer`.
  void StartEngine(const char* answer) {
    engine_ = std::make_unique<FlutterEngine>(FlutterProject(L"data"));
    CallChannel channel(&engine_->GetMessenger(), "varn/test",
                        &StandardMethodCodec::SharedInstance());
    channel.SetMethodHandler(
        [this, answer](const MethodCall<EncodableValue>&,
                       std::unique_ptr<MethodResult<EncodableValue>> result) {
          workers_.emplace_back([answer, result = std::move(result)]() mutable {
            result->Success(EncodableValue(std::string(answer)));
            result.reset();
          });
        });
  }

  void JoinWorkers() {
    for (std::thread& worker : workers_) {
      worker.join();
    }
    workers_.clear();
  }

  FakeMessengerEngine& fake_ = FakeMessengerEngine::Get();
  std::unique_ptr<FlutterEngine> engine_;
  std::vector<std::thread> workers_;
};

TEST_F(ReplyThreadTest, ReplyFromWorkerAfterShutdownIsDropped) {
  engine_ = std::make_unique<FlutterEngine>(FlutterProject(L"data"));
  std::unique_ptr<MethodResult<EncodableValue>> kept;
  CallChannel(&engine_->GetMessenger(), "varn/test",
              &StandardMethodCodec::SharedInstance())
      .SetMethodHandler(
          [&kept](const MethodCall<EncodableValue>&,
                  std::unique_ptr<MethodResult<EncodableValue>> result) {
            kept = std::move(result);
          });
  fake_.DeliverMessage("varn/test", kStageCall);
  engine_.reset();
  EXPECT_EQ(fake_.references(), 1);  // Held by the kept result alone.

  std::thread worker([&kept] {
    kept->Success();
    kept.reset();
  });
  worker.join();
  EXPECT_THAT(fake_.responses(), IsEmpty());
  EXPECT_EQ(fake_.references(), 0);
  EXPECT_THAT(fake_.faults(), IsEmpty());
}

TEST_F(ReplyThreadTest, RepliesRacingShutdownNeverReachDestroyedEngine) {
  for (int round = 0; round < 100; ++round) {
    fake_.Reset();
    StartEngine("disconnected");
    for (int message = 0; message < 4; ++message) {
      fake_.DeliverMessage("varn/test", kStageCall);
    }
    if (round % 2 == 1) {
      std::this_thread::yield();
    }
    engine_.reset();
    JoinWorkers();
    EXPECT_LE(fake_.responses().size(), 4u);
    EXPECT_EQ(fake_.references(), 0) << "round " << round;
    ASSERT_THAT(fake_.faults(), IsEmpty()) << "round " << round;
  }
}

TEST_F(ReplyThreadTest, ConcurrentRepliesEachSendOnce) {
  StartEngine("connecting");
  for (int message = 0; message < 8; ++message) {
    fake_.DeliverMessage("varn/test", kStageCall);
  }
  JoinWorkers();
  std::vector<int> ids;
  for (const Response& response : fake_.responses()) {
    ids.push_back(response.message_id);
  }
  EXPECT_THAT(ids, ::testing::UnorderedElementsAre(0, 1, 2, 3, 4, 5, 6, 7));
  engine_.reset();
  EXPECT_EQ(fake_.references(), 0);
  EXPECT_THAT(fake_.faults(), IsEmpty());
}

}  // namespace
}  // namespace flutter::testing
