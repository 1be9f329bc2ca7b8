// The engine client classes against the stand-in engine library: a top-level
// window hosts a FlutterViewController, the stand-in's driver plays the UI,
// and a method channel on the client's messenger answers it.
#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "codec/encodable_value.h"
#include "codec/standard_method_codec.h"
#include "engine_client/call_channel.h"
#include "engine_client/flutter_project.h"
#include "engine_client/flutter_view_controller.h"
#include "tests/engine_windows/test_support.h"
#include "win/windows_api.h"

namespace flutter::testing {
namespace {

using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::MethodResult;

constexpr char kScenario[] =
    "wait_visible 5000\n"
    "call stage\n"
    "call connect {\"config\":\"x\"}\n"
    "send connect {\"config\":\"slow\"}\n"
    "call connect {\"config\":\"y\"}\n"
    "wait_reply 5000\n"
    "call connect [1,2]\n"
    "call Stage\n"
    "raw 0301000000\n"
    "wait_reply 5000\n"
    "close\n";

// Answers like a tunnel channel would, with canned outcomes; the "slow"
// connect is completed later from another thread.
void HandleCall(const MethodCall<EncodableValue>& call,
                std::unique_ptr<MethodResult<EncodableValue>> result,
                std::vector<std::thread>* threads) {
  const std::string& method = call.call_name();
  if (method == "stage") {
    result->Success(EncodableValue("disconnected"));
    return;
  }
  if (method != "connect") {
    result->NotImplemented();
    return;
  }
  const auto* map = call.call_arguments()
                        ? call.call_arguments()->GetIf<flutter::ValueMap>()
                        : nullptr;
  const std::string* config = nullptr;
  if (map != nullptr) {
    auto it = map->find(EncodableValue("config"));
    if (it != map->end()) config = it->second.GetIf<std::string>();
  }
  if (config == nullptr) {
    result->Error("bad_args", "connect expects a non-empty 'config'");
  } else if (*config == "slow") {
    std::shared_ptr<MethodResult<EncodableValue>> shared = std::move(result);
    threads->emplace_back([shared] {
      Sleep(300);
      shared->Success();
    });
  } else if (*config == "y") {
    result->Error("busy", "Another tunnel operation is in progress");
  } else {
    result->Success();
  }
}

class EngineWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = scratch_.MakeDirectory(L"data");
    scratch_.MakeDirectory(L"data\\flutter_assets");
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"VARN_STANDIN_SCENARIO", nullptr);
  }

  ScratchDirectory scratch_;
  std::wstring data_;
};

TEST_F(EngineWindowsTest, DriverCallsReachTheChannelAndEveryReplyComesBack) {
  const std::wstring scenario = scratch_.WriteFile(L"scenario.txt", kScenario);
  SetEnvironmentVariableW(L"VARN_STANDIN_SCENARIO", scenario.c_str());
  const size_t before = ReadLines(TranscriptPath()).size();

  HostWindow window(640, 480);
  ASSERT_NE(window.handle(), nullptr);
  flutter::FlutterProject project(data_);
  project.set_entry_arguments({"/Service", "/service", "--flag"});
  RECT client{};
  GetClientRect(window.handle(), &client);
  auto controller = std::make_unique<flutter::FlutterViewController>(
      client.right, client.bottom, project);
  ASSERT_NE(controller->GetView(), nullptr);
  std::shared_ptr<flutter::FlutterEngine> engine = controller->GetEngine();

  std::vector<std::thread> threads;
  const DWORD window_thread = GetCurrentThreadId();
  bool handler_on_other_thread = false;
  flutter::CallChannel channel(&engine->GetMessenger(), "varn/wintunnel",
                               &flutter::StandardMethodCodec::SharedInstance());
  channel.SetMethodHandler(
      [&](const MethodCall<EncodableValue>& call,
          std::unique_ptr<MethodResult<EncodableValue>> result) {
        handler_on_other_thread |= GetCurrentThreadId() != window_thread;
        HandleCall(call, std::move(result), &threads);
      });

  HWND view = controller->GetView()->GetHWND();
  ASSERT_TRUE(IsWindow(view));
  SetParent(view, window.handle());
  MoveWindow(view, 0, 0, client.right, client.bottom, TRUE);
  int shown = 0;
  HWND top = window.handle();
  engine->SetNextFrameCallback([&shown, top] {
    ++shown;
    ShowWindow(top, SW_SHOWNORMAL);
  });
  controller->ForceRedraw();
  window.set_hook([&](HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                      LRESULT* result) {
    if (!controller) return false;
    std::optional<LRESULT> handled =
        controller->HandleTopLevelWindowProc(hwnd, message, wparam, lparam);
    if (handled) *result = *handled;
    return handled.has_value();
  });
  window.set_on_destroy([&] {
    engine.reset();
    controller.reset();
  });

  ASSERT_TRUE(PumpUntil([&] { return window.destroyed(); }, 60000));
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(IsWindow(view));
  EXPECT_EQ(shown, 1);
  EXPECT_FALSE(handler_on_other_thread);

  std::vector<std::string> lines = ReadLines(TranscriptPath());
  lines.erase(lines.begin(), lines.begin() + static_cast<long>(before));
  const auto count = [&](const std::vector<std::string>& parts) {
    return Matching(lines, parts).size();
  };
  EXPECT_EQ(count({"\"event\":\"engine_created\"",
                   "\"entry_arguments\":[\"/Service\",\"/service\","
                   "\"--flag\"]",
                   "data\\\\flutter_assets\"", "\"entry_name\":\"\""}),
            1u);
  EXPECT_EQ(count({"\"event\":\"reply\"", "\"method\":\"stage\"",
                   "\"kind\":\"success\"", "\"value\":\"disconnected\""}),
            1u);
  // Success without a value is a success envelope of null.
  EXPECT_EQ(count({"\"event\":\"reply\"", "\"method\":\"connect\"",
                   "\"kind\":\"success\"", "\"value\":null"}),
            2u);
  EXPECT_EQ(count({"\"event\":\"reply\"", "\"method\":\"connect\"",
                   "\"kind\":\"error\"", "\"code\":\"busy\"",
                   "\"message\":\"Another tunnel operation is in progress\"",
                   "\"details\":null"}),
            1u);
  EXPECT_EQ(count({"\"event\":\"reply\"", "\"method\":\"connect\"",
                   "\"code\":\"bad_args\"",
                   "\"message\":\"connect expects a non-empty 'config'\""}),
            1u);
  EXPECT_EQ(count({"\"event\":\"reply\"", "\"method\":\"Stage\"",
                   "\"kind\":\"not_implemented\""}),
            1u);
  // The undecodable message gets the channel's empty reply.
  EXPECT_EQ(count({"\"event\":\"reply\"", "\"method\":\"\"",
                   "\"kind\":\"not_implemented\""}),
            1u);
  EXPECT_EQ(count({"\"event\":\"reply\""}), 7u);
  EXPECT_EQ(count({"\"event\":\"fault\""}), 0u);
  EXPECT_EQ(count({"\"event\":\"timeout\""}), 0u);

  // The frames: one after creation, one after ForceRedraw; the callback
  // runs once, after the first, and only then is the window shown.
  EXPECT_EQ(count({"\"event\":\"frame\""}), 2u);
  ASSERT_EQ(count({"\"event\":\"next_frame_callback\",", "\"frame\":1"}), 1u);
  size_t callback_line = 0;
  size_t visible_line = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find("\"event\":\"next_frame_callback\"") != std::string::npos)
      callback_line = i;
    if (lines[i].find("\"event\":\"window_visible\"") != std::string::npos)
      visible_line = i;
  }
  EXPECT_GT(visible_line, callback_line);
  EXPECT_EQ(count({"\"event\":\"view_destroyed\""}), 1u);
  EXPECT_EQ(count({"\"event\":\"engine_destroyed\""}), 1u);
  EXPECT_EQ(count({"\"event\":\"responsiveness\""}), 1u);
}

TEST_F(EngineWindowsTest, MissingAssetsLeaveAControllerWithoutView) {
  std::ostringstream captured;
  std::streambuf* saved = std::cerr.rdbuf(captured.rdbuf());
  {
    flutter::FlutterProject project(scratch_.path() + L"\\no_data");
    flutter::FlutterViewController controller(100, 100, project);
    EXPECT_EQ(controller.GetView(), nullptr);
    EXPECT_NE(controller.GetEngine(), nullptr);
  }
  std::cerr.rdbuf(saved);
  EXPECT_EQ(captured.str(), "Failed to create view controller.\n");
}

// The stand-in's extra that makes the engine consume one top-level message;
// looked up at run time since the client links only the engine's functions.
using ConsumeFunction = void (*)(UINT message, LRESULT result);

TEST_F(EngineWindowsTest, TopLevelMessagesReachTheCallerUnlessConsumed) {
  auto consume = reinterpret_cast<ConsumeFunction>(
      GetProcAddress(GetModuleHandleW(L"flutter_windows.dll"),
                     "StandInConsumeTopLevelMessage"));
  ASSERT_NE(consume, nullptr);
  flutter::FlutterViewController controller(200, 100,
                                            flutter::FlutterProject(data_));
  ASSERT_NE(controller.GetView(), nullptr);
  HWND view = controller.GetView()->GetHWND();
  EXPECT_FALSE(controller.HandleTopLevelWindowProc(view, WM_FONTCHANGE, 0, 0));
  consume(WM_FONTCHANGE, 42);
  std::optional<LRESULT> consumed =
      controller.HandleTopLevelWindowProc(view, WM_FONTCHANGE, 0, 0);
  consume(0, 0);
  ASSERT_TRUE(consumed.has_value());
  EXPECT_EQ(*consumed, 42);
}

}  // namespace
}  // namespace flutter::testing
