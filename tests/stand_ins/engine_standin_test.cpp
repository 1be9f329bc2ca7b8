// The stand-in engine library through its flat functions: what it records,
// refuses, counts and delivers, and the faults it notices.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "codec/encodable_value.h"
#include "codec/standard_method_codec.h"
#include "engine_client/flutter_windows.h"
#include "stand_ins/engine/stand_in_engine.h"
#include "tests/engine_windows/test_support.h"
#include "win/windows_api.h"

namespace stand_in::testing {
namespace {

using flutter::EncodableValue;
using flutter::testing::HostWindow;
using flutter::testing::Matching;
using flutter::testing::PumpUntil;
using flutter::testing::ReadLines;
using flutter::testing::ScratchDirectory;
using flutter::testing::TranscriptPath;

std::vector<std::string> Transcript() { return ReadLines(TranscriptPath()); }

// Owns an engine made from a properties record, unless handed over.
struct EngineOwner {
  FlutterDesktopEngineRef engine = nullptr;
  ~EngineOwner() {
    if (engine != nullptr) FlutterDesktopEngineDestroy(engine);
  }
};

FlutterDesktopEngineProperties Properties(const std::wstring& assets) {
  FlutterDesktopEngineProperties properties{};
  properties.assets_path = assets.c_str();
  properties.icu_data_path = L"data\\icudtl.dat";
  properties.app_library_path = L"data\\app.so";
  properties.entry_name = "";
  return properties;
}

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEnvironmentVariableW(L"VARN_STANDIN_SCENARIO", nullptr);
    assets_ = scratch_.MakeDirectory(L"flutter_assets");
  }

  ScratchDirectory scratch_;
  std::wstring assets_;
};

TEST(StandInExports, EveryEngineFunctionIsExported) {
  static const char* const kNames[] = {
      "FlutterDesktopEngineCreate",
      "FlutterDesktopEngineDestroy",
      "FlutterDesktopEngineGetMessenger",
      "FlutterDesktopEngineGetPluginRegistrar",
      "FlutterDesktopEngineReloadSystemFonts",
      "FlutterDesktopEngineSetNextFrameCallback",
      "FlutterDesktopViewControllerCreate",
      "FlutterDesktopViewControllerDestroy",
      "FlutterDesktopViewControllerGetView",
      "FlutterDesktopViewControllerForceRedraw",
      "FlutterDesktopViewControllerHandleTopLevelWindowProc",
      "FlutterDesktopViewGetHWND",
      "FlutterDesktopMessengerSend",
      "FlutterDesktopMessengerSendWithReply",
      "FlutterDesktopMessengerSendResponse",
      "FlutterDesktopMessengerSetCallback",
      "FlutterDesktopMessengerAddRef",
      "FlutterDesktopMessengerRelease",
      "FlutterDesktopMessengerLock",
      "FlutterDesktopMessengerUnlock",
      "FlutterDesktopMessengerIsAvailable",
      "FlutterDesktopGetDpiForMonitor",
      "FlutterDesktopResyncOutputStreams",
  };
  HMODULE library = GetModuleHandleW(L"flutter_windows.dll");
  ASSERT_NE(library, nullptr);
  int found = 0;
  for (const char* name : kNames) {
    EXPECT_NE(GetProcAddress(library, name), nullptr) << name;
    found += GetProcAddress(library, name) != nullptr;
  }
  EXPECT_EQ(found, 23);
}

TEST_F(StandInTest, CreationRecordsWhatItWasGivenInOrder) {
  const char* arguments[] = {"/Service", "--flag", "\xC3\xA9t\xC3\xA9"};
  FlutterDesktopEngineProperties properties = Properties(assets_);
  properties.entry_argument_count = 3;
  properties.entry_arguments = arguments;
  properties.engine_settings[0] = 7;
  EngineOwner owner{FlutterDesktopEngineCreate(&properties)};
  ASSERT_NE(owner.engine, nullptr);

  const auto created = Matching(Transcript(), {"\"event\":\"engine_created\""});
  ASSERT_FALSE(created.empty());
  const std::string& line = created.back();
  EXPECT_NE(line.find("flutter_assets\",\"icu_data_path\""), std::string::npos)
      << line;
  EXPECT_NE(line.find("\"icu_data_path\":\"data\\\\icudtl.dat\""),
            std::string::npos)
      << line;
  EXPECT_NE(line.find("\"entry_arguments\":[\"/Service\",\"--flag\","
                      "\"\xC3\xA9t\xC3\xA9\"]"),
            std::string::npos)
      << line;
  EXPECT_NE(line.find("\"entry_argument_count\":3"), std::string::npos);
  EXPECT_NE(line.find("\"engine_settings\":[7,0,0]"), std::string::npos);
}

TEST_F(StandInTest, NoArgumentsArriveAsCountZeroAndNullArray) {
  FlutterDesktopEngineProperties properties = Properties(assets_);
  EngineOwner owner{FlutterDesktopEngineCreate(&properties)};
  ASSERT_NE(owner.engine, nullptr);
  const auto created = Matching(Transcript(), {"\"event\":\"engine_created\""});
  ASSERT_FALSE(created.empty());
  EXPECT_NE(created.back().find("\"entry_argument_count\":0,"
                                "\"entry_arguments_null\":true,"
                                "\"entry_arguments\":[]"),
            std::string::npos)
      << created.back();
}

TEST_F(StandInTest, MissingAssetsDirectoryIsRefused) {
  const std::wstring missing = scratch_.path() + L"\\no_such_assets";
  FlutterDesktopEngineProperties properties = Properties(missing);
  EXPECT_EQ(FlutterDesktopEngineCreate(&properties), nullptr);
  EXPECT_FALSE(
      Matching(Transcript(), {"\"event\":\"engine_refused\"", "no_such_assets"})
          .empty());

  // Relative paths are looked up beside the executable, where no such
  // folder exists either.
  FlutterDesktopEngineProperties relative = Properties(L"data\\flutter_assets");
  EXPECT_EQ(FlutterDesktopEngineCreate(&relative), nullptr);
}

TEST_F(StandInTest, MessengerOutlivesEngineButReportsItGone) {
  FlutterDesktopEngineProperties properties = Properties(assets_);
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  ASSERT_NE(engine, nullptr);
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopEngineGetMessenger(engine);
  ASSERT_NE(messenger, nullptr);
  EXPECT_EQ(FlutterDesktopMessengerAddRef(messenger), messenger);
  EXPECT_TRUE(FlutterDesktopMessengerIsAvailable(messenger));

  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger));
  FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(messenger);
  EXPECT_EQ(locked, messenger);
  FlutterDesktopMessengerUnlock(locked);
  EXPECT_FALSE(FlutterDesktopMessengerSend(messenger, "c", nullptr, 0));
  FlutterDesktopMessengerRelease(messenger);
}

TEST_F(StandInTest, MessengerLockExcludesOtherThreads) {
  FlutterDesktopEngineProperties properties = Properties(assets_);
  EngineOwner owner{FlutterDesktopEngineCreate(&properties)};
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopEngineGetMessenger(owner.engine);
  std::atomic<bool> other_locked{false};
  FlutterDesktopMessengerLock(messenger);
  std::thread other([&] {
    FlutterDesktopMessengerRef held = FlutterDesktopMessengerLock(messenger);
    other_locked = true;
    FlutterDesktopMessengerUnlock(held);
  });
  Sleep(100);
  EXPECT_FALSE(other_locked.load());
  FlutterDesktopMessengerUnlock(messenger);
  other.join();
  EXPECT_TRUE(other_locked.load());
}

TEST_F(StandInTest, OneRegistrarPerPluginNameAndEveryLookupRecorded) {
  FlutterDesktopEngineProperties properties = Properties(assets_);
  EngineOwner owner{FlutterDesktopEngineCreate(&properties)};
  FlutterDesktopPluginRegistrarRef first =
      FlutterDesktopEngineGetPluginRegistrar(owner.engine, "AlphaPlugin");
  FlutterDesktopPluginRegistrarRef again =
      FlutterDesktopEngineGetPluginRegistrar(owner.engine, "AlphaPlugin");
  FlutterDesktopPluginRegistrarRef other =
      FlutterDesktopEngineGetPluginRegistrar(owner.engine, "BetaPlugin");
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(first, again);
  EXPECT_NE(first, other);

  StandInRecordPluginRegistration("AlphaPlugin", first);
  StandInRecordPluginRegistration(
      "Stray", reinterpret_cast<FlutterDesktopPluginRegistrarRef>(&owner));
  const auto lines = Transcript();
  EXPECT_EQ(Matching(lines, {"\"event\":\"registrar\"",
                             "\"plugin\":\"AlphaPlugin\"", "\"lookup\":2"})
                .size(),
            1u);
  EXPECT_FALSE(Matching(lines, {"\"event\":\"plugin_registered\"",
                                "\"plugin\":\"AlphaPlugin\"",
                                "\"registrar_plugin\":\"AlphaPlugin\""})
                   .empty());
  EXPECT_FALSE(
      Matching(lines, {"\"event\":\"plugin_registered\"",
                       "\"plugin\":\"Stray\"", "\"registrar_plugin\":null"})
          .empty());
}

TEST(StandInProcess, DpiAndOutputResync) {
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(nullptr), 96u);
  const POINT origin{0, 0};
  const UINT dpi = FlutterDesktopGetDpiForMonitor(
      MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY));
  EXPECT_GE(dpi, 96u);
  FlutterDesktopResyncOutputStreams();
  EXPECT_FALSE(
      Matching(Transcript(), {"\"event\":\"resync_output_streams\""}).empty());
}

// Counts next-frame callbacks and checks they run on the window thread.
struct FrameProbe {
  DWORD window_thread = GetCurrentThreadId();
  int calls = 0;
  bool wrong_thread = false;
  static void OnFrame(void* data) {
    auto* probe = static_cast<FrameProbe*>(data);
    ++probe->calls;
    probe->wrong_thread |= GetCurrentThreadId() != probe->window_thread;
  }
};

TEST_F(StandInTest, ViewIsARealChildWindowAndFramesRunTheCallbackOnce) {
  FlutterDesktopEngineProperties properties = Properties(assets_);
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  ASSERT_NE(engine, nullptr);
  FlutterDesktopViewControllerRef controller =
      FlutterDesktopViewControllerCreate(320, 200, engine);
  ASSERT_NE(controller, nullptr);
  HWND view = FlutterDesktopViewGetHWND(
      FlutterDesktopViewControllerGetView(controller));
  ASSERT_TRUE(IsWindow(view));
  EXPECT_TRUE(GetWindowLongW(view, GWL_STYLE) & WS_CHILD);
  RECT client{};
  GetClientRect(view, &client);
  EXPECT_EQ(client.right, 320);
  EXPECT_EQ(client.bottom, 200);

  FrameProbe probe;
  FlutterDesktopEngineSetNextFrameCallback(engine, &FrameProbe::OnFrame,
                                           &probe);
  const int before = StandInFrameCount();
  EXPECT_TRUE(PumpUntil([&] { return probe.calls > 0; }, 5000));
  EXPECT_EQ(StandInFrameCount(), before + 1);

  FlutterDesktopViewControllerForceRedraw(controller);
  EXPECT_TRUE(
      PumpUntil([&] { return StandInFrameCount() == before + 2; }, 5000));
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(probe.calls, 1);
  EXPECT_FALSE(probe.wrong_thread);

  // The engine consumes no top-level message unless asked to.
  LRESULT result = 0;
  EXPECT_FALSE(FlutterDesktopViewControllerHandleTopLevelWindowProc(
      controller, view, WM_FONTCHANGE, 0, 0, &result));
  StandInConsumeTopLevelMessage(WM_FONTCHANGE, 42);
  EXPECT_TRUE(FlutterDesktopViewControllerHandleTopLevelWindowProc(
      controller, view, WM_FONTCHANGE, 0, 0, &result));
  EXPECT_EQ(result, 42);
  StandInConsumeTopLevelMessage(0, 0);

  FlutterDesktopViewControllerDestroy(controller);
  EXPECT_FALSE(IsWindow(view));
}

// The host's side of the channel in the scenario test below.
struct Host {
  FlutterDesktopMessengerRef messenger = nullptr;
  DWORD window_thread = GetCurrentThreadId();
  bool wrong_thread = false;
  std::vector<std::string> methods;
  const FlutterDesktopMessageResponseHandle* held = nullptr;

  static void OnMessage(FlutterDesktopMessengerRef messenger,
                        const FlutterDesktopMessage* message, void* data) {
    auto* host = static_cast<Host*>(data);
    host->wrong_thread |= GetCurrentThreadId() != host->window_thread;
    const auto& codec = flutter::StandardMethodCodec::SharedInstance();
    auto call = codec.ParseMethodCall(message->message, message->message_size);
    if (!call) {
      host->methods.push_back("<undecodable>");
      FlutterDesktopMessengerSendResponse(messenger, message->response_handle,
                                          nullptr, 0);
      return;
    }
    const std::string method = call->call_name();
    host->methods.push_back(method);
    if (method == "stage") {
      EncodableValue stage("disconnected");
      auto reply = codec.EncodeSuccessReply(&stage);
      FlutterDesktopMessengerSendResponse(messenger, message->response_handle,
                                          reply->data(), reply->size());
      // A second answer on the same handle is a fault the engine records.
      FlutterDesktopMessengerSendResponse(messenger, message->response_handle,
                                          reply->data(), reply->size());
    } else if (method == "connect") {
      auto reply = codec.EncodeErrorReply(
          "busy", "Another tunnel operation is in progress", nullptr);
      FlutterDesktopMessengerSendResponse(messenger, message->response_handle,
                                          reply->data(), reply->size());
    } else if (method == "hold") {
      // Answered after the engine is gone, from another thread.
      host->held = message->response_handle;
    } else {
      FlutterDesktopMessengerSendResponse(messenger, message->response_handle,
                                          nullptr, 0);
    }
  }
};

TEST_F(StandInTest, ScenarioDriverExchangesCallsAndRecordsFaults) {
  const std::wstring scenario = scratch_.WriteFile(
      L"scenario.txt",
      "# the stand-in UI's calls\n"
      "wait_visible 5000\n"
      "call stage\n"
      "call connect {\"config\":\"[Interface]\\nAddress = 10.0.0.2/32\\n\"}\n"
      "call Stage\n"
      "raw 0301000000\n"
      "wait_reply 5000\n"
      "send hold\n"
      "sleep 50\n"
      "close\n");
  SetEnvironmentVariableW(L"VARN_STANDIN_SCENARIO", scenario.c_str());

  FlutterDesktopEngineProperties properties = Properties(assets_);
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  ASSERT_NE(engine, nullptr);
  Host host;
  host.messenger = FlutterDesktopEngineGetMessenger(engine);
  FlutterDesktopMessengerSetCallback(host.messenger, "varn/wintunnel",
                                     &Host::OnMessage, &host);
  FlutterDesktopViewControllerRef controller =
      FlutterDesktopViewControllerCreate(400, 300, engine);
  ASSERT_NE(controller, nullptr);
  SetEnvironmentVariableW(L"VARN_STANDIN_SCENARIO", nullptr);

  HostWindow window(400, 300);
  HWND view = FlutterDesktopViewGetHWND(
      FlutterDesktopViewControllerGetView(controller));
  SetParent(view, window.handle());
  window.set_hook([&](HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                      LRESULT* result) {
    return controller != nullptr &&
           FlutterDesktopViewControllerHandleTopLevelWindowProc(
               controller, hwnd, message, wparam, lparam, result);
  });
  FlutterDesktopMessengerRef kept = nullptr;
  window.set_on_destroy([&] {
    // Keep a reference past the engine, like a reply still in flight.
    kept = FlutterDesktopMessengerAddRef(host.messenger);
    FlutterDesktopViewControllerDestroy(controller);
    controller = nullptr;
  });
  ShowWindow(window.handle(), SW_SHOWNORMAL);

  ASSERT_TRUE(PumpUntil([&] { return window.destroyed(); }, 30000));
  ASSERT_NE(kept, nullptr);
  EXPECT_FALSE(host.wrong_thread);
  EXPECT_EQ(host.methods, (std::vector<std::string>{"stage", "connect", "Stage",
                                                    "<undecodable>", "hold"}));

  // The held answer, given late from another thread without checking that
  // the engine is still there, must be refused and recorded.
  std::thread late([&] {
    FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(kept);
    EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(kept));
    FlutterDesktopMessengerSendResponse(kept, host.held, nullptr, 0);
    FlutterDesktopMessengerUnlock(locked);
  });
  late.join();
  FlutterDesktopMessengerRelease(kept);

  const auto lines = Transcript();
  EXPECT_EQ(Matching(lines, {"\"event\":\"reply\"", "\"method\":\"stage\"",
                             "\"kind\":\"success\"",
                             "\"value\":\"disconnected\"", "\"code\":null"})
                .size(),
            1u);
  EXPECT_EQ(
      Matching(lines,
               {"\"event\":\"reply\"", "\"method\":\"connect\"",
                "\"kind\":\"error\"", "\"value\":null", "\"code\":\"busy\"",
                "\"message\":\"Another tunnel operation is in progress\"",
                "\"details\":null", "\"ms\":", "\"source\":\"scenario\""})
          .size(),
      1u);
  EXPECT_EQ(Matching(lines, {"\"event\":\"reply\"", "\"method\":\"Stage\"",
                             "\"kind\":\"not_implemented\""})
                .size(),
            1u);
  EXPECT_EQ(Matching(lines, {"\"event\":\"call\"", "\"bytes\":\"0301000000\""})
                .size(),
            1u);
  EXPECT_EQ(Matching(lines, {"\"event\":\"call\"", "\"method\":\"connect\"",
                             "\"arguments\":{\"config\":\"[Interface]\\n"})
                .size(),
            1u);
  EXPECT_EQ(
      Matching(lines, {"\"event\":\"fault\"", "\"kind\":\"second_response\"",
                       "\"method\":\"stage\""})
          .size(),
      1u);
  EXPECT_EQ(Matching(lines, {"\"event\":\"fault\"",
                             "\"kind\":\"reply_after_shutdown\"",
                             "\"method\":\"hold\""})
                .size(),
            1u);
  EXPECT_EQ(Matching(lines, {"\"event\":\"window_visible\""}).size(), 1u);
  EXPECT_EQ(Matching(lines, {"\"event\":\"close_posted\""}).size(), 1u);
  EXPECT_EQ(
      Matching(lines, {"\"event\":\"responsiveness\"", "max_late_ms"}).size(),
      1u);
  EXPECT_EQ(
      Matching(lines, {"\"event\":\"scenario_end\"", "\"timeouts\":0"}).size(),
      1u);
}

TEST_F(StandInTest, HostSendWithReplyIsAnsweredOnceOnTheWindowThread) {
  FlutterDesktopEngineProperties properties = Properties(assets_);
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  ASSERT_NE(engine, nullptr);
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopEngineGetMessenger(engine);
  FlutterDesktopViewControllerRef controller =
      FlutterDesktopViewControllerCreate(100, 100, engine);
  ASSERT_NE(controller, nullptr);

  struct Answer {
    DWORD thread = GetCurrentThreadId();
    int calls = 0;
    bool wrong_thread = false;
  } answer;
  const uint8_t byte = 1;
  auto on_reply = [](const uint8_t*, size_t, void* data) {
    auto* a = static_cast<Answer*>(data);
    ++a->calls;
    a->wrong_thread |= GetCurrentThreadId() != a->thread;
  };
  std::thread sender([&] {
    EXPECT_TRUE(FlutterDesktopMessengerSendWithReply(
        messenger, "ui/ping", &byte, 1, on_reply, &answer));
  });
  sender.join();
  EXPECT_TRUE(PumpUntil([&] { return answer.calls > 0; }, 5000));
  PumpUntil([] { return false; }, 50);
  EXPECT_EQ(answer.calls, 1);
  EXPECT_FALSE(answer.wrong_thread);

  // Still pending when the view goes: answered during the teardown.
  EXPECT_TRUE(FlutterDesktopMessengerSendWithReply(messenger, "ui/ping", &byte,
                                                   1, on_reply, &answer));
  FlutterDesktopViewControllerDestroy(controller);
  EXPECT_EQ(answer.calls, 2);
}

}  // namespace
}  // namespace stand_in::testing
