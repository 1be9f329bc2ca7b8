#include "app/flutter_window.h"

#include <gtest/gtest.h>
#include <process.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "app/tunnel_control/channel/window_task.h"
#include "engine_client/flutter_project.h"
#include "tests/engine_fakes/fake_window_engine.h"

namespace flutter::testing {
namespace {

// Dispatches everything queued for this thread.
void PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

class FlutterWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFakeEngine(); }
  void TearDown() override {
    window_.reset();
    PumpMessages();
    ResetFakeEngine();
  }

  // Creates the window at a size whose client area is known.
  bool CreateAppWindow() {
    window_ = std::make_unique<FlutterWindow>(flutter::FlutterProject(L"data"));
    return window_->Create(L"varn_vpn", {10, 10}, {640, 360});
  }

  HWND Handle() { return window_->GetHandle(); }

  std::unique_ptr<FlutterWindow> window_;
};

TEST_F(FlutterWindowTest, CreationRegistersEverythingBeforeShowing) {
  ASSERT_TRUE(CreateAppWindow());
  const FakeWindowEngine& fake = Fake();

  // The view gets the client size of the top-level window.
  RECT client{};
  ::GetClientRect(Handle(), &client);
  EXPECT_EQ(fake.view_width, client.right);
  EXPECT_EQ(fake.view_height, client.bottom);

  // Plug-ins in their fixed order, each with the registrar for its name.
  const std::vector<std::string> plugins = {
      "AppLinksPluginCApi", "SharePlusWindowsPluginCApi", "UrlLauncherWindows",
      "WireguardFlutterPluginCApi"};
  int previous = fake.IndexOf("controller_create");
  for (const std::string& plugin : plugins) {
    const int registered = fake.IndexOf("plugin " + plugin + " " + plugin);
    EXPECT_GT(registered, previous) << plugin;
    EXPECT_EQ(fake.Count("registrar " + plugin), 1) << plugin;
    previous = registered;
  }

  // Then the tunnel channel, then the frame callback and a forced frame.
  const int channel = fake.IndexOf("set_callback varn/wintunnel");
  EXPECT_GT(channel, previous);
  EXPECT_GT(fake.IndexOf("next_frame_callback"), channel);
  EXPECT_GT(fake.IndexOf("force_redraw"), fake.IndexOf("next_frame_callback"));

  // The view is the window's content.
  EXPECT_EQ(::GetParent(fake.view_window), Handle());
  RECT view{};
  ::GetClientRect(fake.view_window, &view);
  EXPECT_EQ(view.right, client.right);
  EXPECT_EQ(view.bottom, client.bottom);
}

TEST_F(FlutterWindowTest, WindowStaysHiddenUntilTheNextFrame) {
  ASSERT_TRUE(CreateAppWindow());
  PumpMessages();
  EXPECT_FALSE(::IsWindowVisible(Handle()));
  Fake().DrawFrame();
  EXPECT_TRUE(::IsWindowVisible(Handle()));
}

TEST_F(FlutterWindowTest, CreationFailsWithoutAnEngineOrAView) {
  for (const bool no_engine : {false, true}) {
    ResetFakeEngine();
    Fake().refuse_engine = no_engine;
    Fake().refuse_view_controller = !no_engine;
    EXPECT_FALSE(CreateAppWindow()) << no_engine;
    window_.reset();
    PumpMessages();
    EXPECT_EQ(Fake().Count("registrar AppLinksPluginCApi"), 0);
    EXPECT_EQ(Fake().IndexOf("set_callback varn/wintunnel"), -1);
    EXPECT_EQ(Fake().Count("null handle"), 0) << no_engine;
    EXPECT_EQ(Fake().Count("controller_create"), no_engine ? 0 : 1);
  }
}

TEST_F(FlutterWindowTest, PostedTaskRunsOnceAndIsFreed) {
  ASSERT_TRUE(CreateAppWindow());
  auto runs = std::make_shared<int>(0);
  // One that throws first: it is dropped and the window goes on.
  ASSERT_TRUE(tunnel_control::PostWindowTask(
      Handle(), std::make_unique<tunnel_control::WindowTask>(
                    [runs]() { throw std::bad_alloc(); })));
  ASSERT_TRUE(tunnel_control::PostWindowTask(
      Handle(),
      std::make_unique<tunnel_control::WindowTask>([runs]() { ++*runs; })));
  EXPECT_EQ(runs.use_count(), 3);
  PumpMessages();
  EXPECT_EQ(*runs, 1);
  EXPECT_EQ(runs.use_count(), 1) << "the task was not freed";
  for (UINT offered : Fake().offered_messages) {
    EXPECT_NE(offered, tunnel_control::kWindowTaskMessage);
  }
}

// Runs the helper program beside this one, which posts the task message
// from its own process.
void PostFromAnotherProcess(HWND window, LPARAM lparam) {
  wchar_t path[MAX_PATH];
  std::wstring helper(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
  helper.replace(helper.find_last_of(L'\\') + 1, std::wstring::npos,
                 L"post_task_message.exe");
  const std::wstring window_text =
      std::to_wstring(reinterpret_cast<uintptr_t>(window));
  const std::wstring lparam_text =
      std::to_wstring(static_cast<uintptr_t>(lparam));
  EXPECT_EQ(_wspawnl(_P_WAIT, helper.c_str(), L"helper", window_text.c_str(),
                     lparam_text.c_str(), nullptr),
            0);
}

TEST_F(FlutterWindowTest, TaskMessagesFromElsewhereAreNeitherRunNorFreed) {
  ASSERT_TRUE(CreateAppWindow());
  Fake().offered_messages.clear();
  // A live task that only the test knows: calling or freeing it shows in
  // `runs`. The number is in the registered-message range, so any program
  // may send it with any lParam.
  auto runs = std::make_shared<int>(0);
  auto foreign =
      std::make_unique<tunnel_control::WindowTask>([runs]() { ++*runs; });
  const LPARAM lparam = reinterpret_cast<LPARAM>(foreign.get());
  const UINT kTask = tunnel_control::kWindowTaskMessage;
  const struct {
    const char* from;
    std::function<void()> post;
  } posters[] = {
      {"zero lParam", [&] { ::SendMessageW(Handle(), kTask, 0, 0); }},
      {"this thread", [&] { ::SendMessageW(Handle(), kTask, 0, lparam); }},
      {"another thread",
       [&] {
         std::thread([&] {
           ::PostMessageW(Handle(), kTask, 0, lparam);
         }).join();
       }},
      {"another process", [&] { PostFromAnotherProcess(Handle(), lparam); }},
  };
  for (const auto& poster : posters) {
    poster.post();
    PumpMessages();
    EXPECT_EQ(*runs, 0) << poster.from;
    EXPECT_EQ(runs.use_count(), 2) << poster.from << ": freed";
  }
  EXPECT_TRUE(Fake().offered_messages.empty());
}

TEST_F(FlutterWindowTest, FontChangeReloadsFontsAfterOfferingTheEngine) {
  ASSERT_TRUE(CreateAppWindow());
  Fake().offered_messages.clear();
  EXPECT_EQ(::SendMessageW(Handle(), WM_FONTCHANGE, 0, 0), 0);
  EXPECT_EQ(Fake().Count("reload_fonts"), 1);
  ASSERT_EQ(Fake().offered_messages.size(), 1u);
  EXPECT_EQ(Fake().offered_messages[0], static_cast<UINT>(WM_FONTCHANGE));
}

TEST_F(FlutterWindowTest, MessagesTheEngineConsumesStopThere) {
  ASSERT_TRUE(CreateAppWindow());
  Fake().consumed_message = WM_FONTCHANGE;
  Fake().consumed_result = 7;
  EXPECT_EQ(::SendMessageW(Handle(), WM_FONTCHANGE, 0, 0), 7);
  EXPECT_EQ(Fake().Count("reload_fonts"), 0);

  // A consumed WM_SIZE never reaches the base, which would move the view.
  Fake().consumed_message = WM_SIZE;
  Fake().consumed_result = 0;
  ::SetWindowPos(Handle(), nullptr, 0, 0, 900, 700,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client{};
  RECT view{};
  ::GetClientRect(Handle(), &client);
  ::GetClientRect(Fake().view_window, &view);
  EXPECT_NE(view.right, client.right);
}

TEST_F(FlutterWindowTest, MessagesNotConsumedReachTheBase) {
  ASSERT_TRUE(CreateAppWindow());
  ::SetWindowPos(Handle(), nullptr, 0, 0, 900, 700,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client{};
  RECT view{};
  ::GetClientRect(Handle(), &client);
  ::GetClientRect(Fake().view_window, &view);
  EXPECT_EQ(view.right, client.right);
  EXPECT_EQ(view.bottom, client.bottom);
}

TEST_F(FlutterWindowTest, ClosingDestroysTheControllerOnce) {
  ASSERT_TRUE(CreateAppWindow());
  ::DestroyWindow(Handle());
  EXPECT_EQ(Fake().Count("controller_destroyed"), 1);
  EXPECT_EQ(Handle(), nullptr);

  // Later calls of the hook and the destructor find no controller.
  window_->Destroy();
  window_.reset();
  EXPECT_EQ(Fake().Count("controller_destroyed"), 1);
  EXPECT_EQ(Fake().offers_after_destroy, 0);
}

TEST_F(FlutterWindowTest, DestructorDestroysALiveController) {
  ASSERT_TRUE(CreateAppWindow());
  window_.reset();
  EXPECT_EQ(Fake().Count("controller_destroyed"), 1);
  // Messages the teardown sends to the still living top-level window must
  // not reach the controller being destroyed.
  EXPECT_EQ(Fake().offers_after_destroy, 0);
}

}  // namespace
}  // namespace flutter::testing
