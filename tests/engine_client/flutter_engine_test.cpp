#include "engine_client/flutter_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "engine_client/binary_messenger_impl.h"
#include "engine_client/flutter_project.h"
#include "tests/engine_client/stderr_capture.h"
#include "tests/engine_fakes/fake_messenger_engine.h"

// From a C translation unit of the same header.
extern "C" size_t MessageRecordSizeSeenFromC(void);

namespace flutter::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Logs its own destruction, to see when an owner lets go of it.
class DestructionProbe {
 public:
  explicit DestructionProbe(std::string name) : name_(std::move(name)) {}
  ~DestructionProbe() { FakeMessengerEngine::Get().Log(name_ + " destroyed"); }

 private:
  std::string name_;
};

class FlutterEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { fake_.Reset(); }
  void TearDown() override {
    EXPECT_THAT(fake_.faults(), IsEmpty());
    fake_.Reset();
  }

  FakeMessengerEngine& fake_ = FakeMessengerEngine::Get();
};

TEST(FlutterProjectTest, PathsAreSuffixesOfTheDirectoryAsPassed) {
  FlutterProject project(L"data");
  EXPECT_EQ(project.assets_directory(), L"data\\flutter_assets");
  EXPECT_EQ(project.icu_data_file(), L"data\\icudtl.dat");
  EXPECT_EQ(project.app_library_file(), L"data\\app.so");
  EXPECT_EQ(project.entry_name(), "");
  EXPECT_THAT(project.entry_arguments(), IsEmpty());
  EXPECT_THAT(project.engine_settings(), ElementsAre(0, 0, 0));
}

TEST(FlutterWindowsHeaderTest, CAndCppSeeTheSameMessageRecord) {
  EXPECT_EQ(MessageRecordSizeSeenFromC(), sizeof(FlutterDesktopMessage));
}

TEST_F(FlutterEngineTest, PassesProjectWithoutArgumentsAsNullArray) {
  FlutterEngine engine(FlutterProject(L"data"));
  ASSERT_TRUE(fake_.creation.has_value());
  const EngineCreation& created = *fake_.creation;
  EXPECT_EQ(created.assets_path, L"data\\flutter_assets");
  EXPECT_EQ(created.icu_data_path, L"data\\icudtl.dat");
  EXPECT_EQ(created.app_library_path, L"data\\app.so");
  EXPECT_FALSE(created.entry_name_null);
  EXPECT_EQ(created.entry_name, "");
  EXPECT_EQ(created.argument_count, 0);
  EXPECT_TRUE(created.arguments_null);
  EXPECT_THAT(created.engine_settings, ElementsAre(0, 0, 0));
  EXPECT_EQ(created.reserved, 0u);
  EXPECT_THAT(fake_.events(),
              ElementsAre("EngineCreate", "EngineGetMessenger"));
}

TEST_F(FlutterEngineTest, PassesArgumentsInListOrder) {
  FlutterProject project(L"x\\data");
  project.set_entry_arguments({"/tunnel-install", "", "caf\xc3\xa9"});
  FlutterEngine engine(project);
  const EngineCreation& created = *fake_.creation;
  EXPECT_EQ(created.assets_path, L"x\\data\\flutter_assets");
  EXPECT_EQ(created.argument_count, 3);
  EXPECT_FALSE(created.arguments_null);
  EXPECT_THAT(created.arguments,
              ElementsAre("/tunnel-install", "", "caf\xc3\xa9"));
}

TEST_F(FlutterEngineTest, MessengerWrapsTheEngineMessenger) {
  FlutterEngine engine(FlutterProject(L"data"));
  engine.GetMessenger().SetChannelHandler(
      "ch", [](const uint8_t*, size_t, ReplySink) {});
  ASSERT_EQ(fake_.set_callback_calls.size(), 1u);
  EXPECT_EQ(fake_.set_callback_calls[0].callback,
            &BinaryMessengerImpl::OnEngineMessage);
  EXPECT_EQ(fake_.DeliverMessage("ch", {}), 0);
}

TEST_F(FlutterEngineTest, OwningEngineTearsDownEngineThenCallableThenHandlers) {
  {
    FlutterEngine engine(FlutterProject(L"data"));
    auto handler_probe = std::make_shared<DestructionProbe>("handler");
    engine.GetMessenger().SetChannelHandler(
        "ch", [handler_probe](const uint8_t*, size_t, ReplySink) {});
    handler_probe.reset();
    auto callable_probe = std::make_shared<DestructionProbe>("callable");
    engine.SetNextFrameCallback([callable_probe] {});
    callable_probe.reset();
  }
  EXPECT_THAT(fake_.events(),
              ElementsAre("EngineCreate", "EngineGetMessenger",
                          "EngineSetNextFrameCallback", "EngineDestroy",
                          "callable destroyed", "handler destroyed"));
}

TEST_F(FlutterEngineTest, HandedOverEngineIsNotDestroyedButStaysUsable) {
  {
    FlutterEngine engine(FlutterProject(L"data"));
    FlutterDesktopEngineRef handle = engine.HandOverEngine();
    EXPECT_EQ(handle, fake_.engine());
    EXPECT_NE(engine.GetPluginRegistrar("a_plugin"), nullptr);
    engine.ReloadSystemFonts();
  }
  EXPECT_THAT(fake_.events(), ElementsAre("EngineCreate", "EngineGetMessenger",
                                          "EngineReloadSystemFonts"));
  EXPECT_THAT(fake_.registrar_lookups, ElementsAre("a_plugin"));
}

TEST_F(FlutterEngineTest, RegistrarLookupForwardsPluginName) {
  FlutterEngine engine(FlutterProject(L"data"));
  FlutterDesktopPluginRegistrarRef first = engine.GetPluginRegistrar("one");
  FlutterDesktopPluginRegistrarRef second = engine.GetPluginRegistrar("two");
  EXPECT_NE(first, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(engine.GetPluginRegistrar("one"), first);
  EXPECT_THAT(fake_.registrar_lookups, ElementsAre("one", "two", "one"));
}

TEST_F(FlutterEngineTest, FailedStartCallsNothingWithTheNullEngine) {
  fake_.fail_engine_create = true;
  FlutterEngine engine(FlutterProject(L"data"));
  StderrCapture err;
  EXPECT_EQ(engine.GetPluginRegistrar("one"), nullptr);
  EXPECT_EQ(err.text(),
            "Cannot get plugin registrar on an engine that isn't running; "
            "call Run first.\n");
  engine.ReloadSystemFonts();
  engine.SetNextFrameCallback([] {});
  engine.GetMessenger().SetChannelHandler(
      "ch", [](const uint8_t*, size_t, ReplySink) {});
  engine.GetMessenger().Send("out", nullptr, 0, nullptr);
  EXPECT_EQ(engine.HandOverEngine(), nullptr);
  EXPECT_THAT(fake_.events(), ElementsAre("EngineCreate"));
  EXPECT_THAT(fake_.registrar_lookups, IsEmpty());
  EXPECT_THAT(fake_.set_callback_calls, IsEmpty());
  EXPECT_THAT(fake_.sent_messages, IsEmpty());
}

TEST_F(FlutterEngineTest, NextFrameCallableRunsOnceUntilSetAgain) {
  FlutterEngine engine(FlutterProject(L"data"));
  int runs = 0;
  engine.SetNextFrameCallback([&runs] { ++runs; });
  fake_.DrawFrame();
  fake_.DrawFrame();
  EXPECT_EQ(runs, 1);

  engine.SetNextFrameCallback([&runs] { ++runs; });
  fake_.DrawFrame();
  EXPECT_EQ(runs, 2);
}

TEST_F(FlutterEngineTest, ThrowingNextFrameCallableIsReportedAndDropped) {
  FlutterEngine engine(FlutterProject(L"data"));
  engine.SetNextFrameCallback([] { throw 42; });
  StderrCapture err;
  fake_.DrawFrame();
  EXPECT_EQ(err.text(),
            "Error: The next-frame callback threw: an exception of unknown "
            "type. Dropped.\n");
  int runs = 0;
  engine.SetNextFrameCallback([&runs] { ++runs; });
  fake_.DrawFrame();
  EXPECT_EQ(runs, 1);
}

TEST_F(FlutterEngineTest, NextFrameCallableReplacesUnrunOne) {
  FlutterEngine engine(FlutterProject(L"data"));
  std::string ran;
  engine.SetNextFrameCallback([&ran] { ran += "old"; });
  engine.SetNextFrameCallback([&ran] { ran += "new"; });
  fake_.DrawFrame();
  EXPECT_EQ(ran, "new");
}

TEST_F(FlutterEngineTest, NextFrameCallableMaySetTheNextOne) {
  FlutterEngine engine(FlutterProject(L"data"));
  int runs = 0;
  engine.SetNextFrameCallback([&] {
    ++runs;
    engine.SetNextFrameCallback([&runs] { runs += 10; });
  });
  fake_.DrawFrame();
  fake_.DrawFrame();
  fake_.DrawFrame();
  EXPECT_EQ(runs, 11);
}

}  // namespace
}  // namespace flutter::testing
