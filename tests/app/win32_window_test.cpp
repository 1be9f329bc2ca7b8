#include "app/win32_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/theme_calls.h"
#include "tests/engine_fakes/fake_window_engine.h"

namespace flutter::testing {
namespace {

constexpr wchar_t kClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

bool ClassRegistered() {
  WNDCLASSW info{};
  return ::GetClassInfoW(::GetModuleHandleW(nullptr), kClassName, &info) != 0;
}

// Records what reaches the virtual hooks.
class RecordingWindow : public Win32Window {
 public:
  ~RecordingWindow() override { Destroy(); }

  std::vector<UINT> messages;
  int destroying_calls = 0;
  bool accept_creation = true;

 protected:
  LRESULT OnWindowMessage(HWND window, UINT message, WPARAM wparam,
                          LPARAM lparam) noexcept override {
    messages.push_back(message);
    return Win32Window::OnWindowMessage(window, message, wparam, lparam);
  }
  bool OnWindowCreated() override { return accept_creation; }
  void OnWindowDestroying() override { ++destroying_calls; }
};

// Drains the thread's queue; returns true if WM_QUIT was among it.
bool DrainQueueSawQuit(int* exit_code = nullptr) {
  MSG message;
  bool quit = false;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quit = true;
      if (exit_code != nullptr) *exit_code = static_cast<int>(message.wParam);
      continue;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return quit;
}

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFakeEngine(); }
  void TearDown() override {
    DrainQueueSawQuit();
    ResetFakeEngine();
  }
};

// --- DPI scaling
// ---------------------------------------------------------------

TEST(Win32WindowScaleTest, ScalesTheDefaultGeometryForCommonDpis) {
  struct Case {
    UINT dpi;
    int origin;
    int width;
    int height;
  };
  // 120 DPI: 10 * 1.25 = 12.5 truncates to 12.
  for (const Case& c : {Case{96, 10, 1280, 720}, Case{120, 12, 1600, 900},
                        Case{144, 15, 1920, 1080}}) {
    const double factor = c.dpi / 96.0;
    EXPECT_EQ(Win32Window::Scale(10, factor), c.origin) << c.dpi;
    EXPECT_EQ(Win32Window::Scale(1280, factor), c.width) << c.dpi;
    EXPECT_EQ(Win32Window::Scale(720, factor), c.height) << c.dpi;
  }
}

TEST(Win32WindowScaleTest, TruncatesTowardZero) {
  EXPECT_EQ(Win32Window::Scale(-10, 1.25), -12);
  EXPECT_EQ(Win32Window::Scale(3, 1.5), 4);
  EXPECT_EQ(Win32Window::Scale(0, 2.0), 0);
}

TEST_F(Win32WindowTest, WindowAtSystemDpiHasTheLogicalGeometry) {
  // The display here runs at 96 DPI, where logical units are pixels.
  RecordingWindow window;
  ASSERT_TRUE(window.Create(L"measured", {10, 10}, {1280, 720}));
  RECT frame{};
  ASSERT_TRUE(::GetWindowRect(window.GetHandle(), &frame));
  EXPECT_EQ(frame.left, 10);
  EXPECT_EQ(frame.top, 10);
  EXPECT_EQ(frame.right - frame.left, 1280);
  EXPECT_EQ(frame.bottom - frame.top, 720);
  EXPECT_FALSE(::IsWindowVisible(window.GetHandle()));
  wchar_t title[32] = {};
  ::GetWindowTextW(window.GetHandle(), title, 32);
  EXPECT_EQ(std::wstring(title), L"measured");
}

TEST_F(Win32WindowTest, WindowAtReportedDpiIsScaled) {
  Fake().dpi = 144;
  RecordingWindow window;
  ASSERT_TRUE(window.Create(L"scaled", {10, 10}, {640, 360}));
  RECT frame{};
  ASSERT_TRUE(::GetWindowRect(window.GetHandle(), &frame));
  EXPECT_EQ(frame.left, 15);
  EXPECT_EQ(frame.top, 15);
  EXPECT_EQ(frame.right - frame.left, 960);
  EXPECT_EQ(frame.bottom - frame.top, 540);
}

// --- Class registration and lifetime
// --------------------------------------------

TEST_F(Win32WindowTest, ClassLivesFromFirstCreateToLastWindowObject) {
  ASSERT_FALSE(ClassRegistered());
  {
    auto first = std::make_unique<RecordingWindow>();
    EXPECT_FALSE(ClassRegistered());
    ASSERT_TRUE(first->Create(L"first", {10, 10}, {200, 100}));
    EXPECT_TRUE(ClassRegistered());

    auto second = std::make_unique<RecordingWindow>();
    ASSERT_TRUE(second->Create(L"second", {20, 20}, {200, 100}));
    first.reset();
    EXPECT_TRUE(ClassRegistered()) << "second window still alive";
    second.reset();
    EXPECT_FALSE(ClassRegistered());
  }
  RecordingWindow later;
  ASSERT_TRUE(later.Create(L"later", {10, 10}, {200, 100}));
  EXPECT_TRUE(ClassRegistered());
  later.Destroy();
  EXPECT_TRUE(ClassRegistered()) << "the object still counts";
}

TEST_F(Win32WindowTest, CreateFailsWhenTheHookRefusesAndKeepsTheWindow) {
  RecordingWindow window;
  window.accept_creation = false;
  EXPECT_FALSE(window.Create(L"refused", {10, 10}, {200, 100}));
  EXPECT_NE(window.GetHandle(), nullptr);
  window.Destroy();
  EXPECT_EQ(window.GetHandle(), nullptr);
}

TEST_F(Win32WindowTest, CreatingAgainReplacesTheOldWindow) {
  RecordingWindow window;
  ASSERT_TRUE(window.Create(L"one", {10, 10}, {200, 100}));
  HWND old_window = window.GetHandle();
  const int destroying_before = window.destroying_calls;
  ASSERT_TRUE(window.Create(L"two", {10, 10}, {200, 100}));
  EXPECT_FALSE(::IsWindow(old_window));
  EXPECT_NE(window.GetHandle(), old_window);
  EXPECT_GT(window.destroying_calls, destroying_before);
}

// --- Window procedure
// ------------------------------------------------------------

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wparam,
                           LPARAM lparam) {
  return ::DefWindowProcW(window, message, wparam, lparam);
}

TEST_F(Win32WindowTest, MessageBeforeHandOverGoesToDefaultProcedure) {
  WNDCLASSW plain{};
  plain.lpfnWndProc = PlainProc;
  plain.hInstance = ::GetModuleHandleW(nullptr);
  plain.lpszClassName = L"VarnPlainTestWindow";
  ::RegisterClassW(&plain);
  HWND window =
      ::CreateWindowExW(0, plain.lpszClassName, L"before", 0, 0, 0, 10, 10,
                        nullptr, nullptr, plain.hInstance, nullptr);
  ASSERT_NE(window, nullptr);

  // No object is stored yet: default handling sets the text.
  EXPECT_EQ(Win32Window::WndProc(window, WM_SETTEXT, 0,
                                 reinterpret_cast<LPARAM>(L"via default")),
            TRUE);
  wchar_t title[32] = {};
  ::GetWindowTextW(window, title, 32);
  EXPECT_EQ(std::wstring(title), L"via default");
  EXPECT_EQ(::GetWindowLongPtrW(window, GWLP_USERDATA), 0);

  ::DestroyWindow(window);
  ::UnregisterClassW(plain.lpszClassName, plain.hInstance);
}

TEST_F(Win32WindowTest, HandOverMessageIsNotForwardedButLaterOnesAre) {
  RecordingWindow window;
  ASSERT_TRUE(window.Create(L"hand over", {10, 10}, {200, 100}));
  const std::vector<UINT>& seen = window.messages;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), WM_NCCREATE), 0);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), WM_CREATE), 1);
  EXPECT_EQ(::GetWindowLongPtrW(window.GetHandle(), GWLP_USERDATA),
            reinterpret_cast<LONG_PTR>(&window));
}

TEST_F(Win32WindowTest, SizingKeepsTheContentFillingTheClientArea) {
  RecordingWindow window;
  ASSERT_TRUE(window.Create(L"content", {10, 10}, {400, 300}));
  HWND content = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0,
                                   0, 5, 5, window.GetHandle(), nullptr,
                                   ::GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(content, nullptr);
  window.SetContentWindow(content);
  EXPECT_EQ(::GetParent(content), window.GetHandle());

  auto expect_fills = [&](const char* when) {
    RECT client = window.GetClientBounds();
    RECT child{};
    ::GetClientRect(content, &child);
    EXPECT_EQ(child.right, client.right - client.left) << when;
    EXPECT_EQ(child.bottom, client.bottom - client.top) << when;
  };
  expect_fills("after embedding");

  ::SetWindowPos(window.GetHandle(), nullptr, 0, 0, 700, 500,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client = window.GetClientBounds();
  ASSERT_GT(client.right, 400);
  expect_fills("after resizing");
}

TEST_F(Win32WindowTest, ContentOfAnEarlierWindowIsLeftAlone) {
  RecordingWindow window;
  ASSERT_TRUE(window.Create(L"first", {10, 10}, {400, 300}));
  HWND holder =
      ::CreateWindowExW(0, L"STATIC", L"holder", WS_OVERLAPPED, 0, 0, 800, 600,
                        nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(holder, nullptr);
  HWND content = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0,
                                   0, 5, 5, window.GetHandle(), nullptr,
                                   ::GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(content, nullptr);
  window.SetContentWindow(content);

  // The old content survives its window here only so that anything still
  // done to the stale handle shows.
  ::SetParent(content, holder);
  ::MoveWindow(content, 0, 0, 5, 5, TRUE);
  ::DestroyWindow(window.GetHandle());
  ASSERT_TRUE(window.Create(L"second", {10, 10}, {400, 300}));
  ::SetWindowPos(window.GetHandle(), nullptr, 0, 0, 700, 500,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  window.Show();
  ::SendMessageW(window.GetHandle(), WM_ACTIVATE, WA_ACTIVE, 0);

  RECT child{};
  ::GetClientRect(content, &child);
  EXPECT_EQ(child.right, 5);
  EXPECT_EQ(child.bottom, 5);
  EXPECT_NE(::GetFocus(), content);
  ::DestroyWindow(holder);
}

TEST_F(Win32WindowTest, DpiChangeMovesToTheSuggestedRectangle) {
  RecordingWindow window;
  ASSERT_TRUE(window.Create(L"dpi", {10, 10}, {400, 300}));
  RECT suggested = {30, 40, 630, 490};
  EXPECT_EQ(
      ::SendMessageW(window.GetHandle(), WM_DPICHANGED, MAKEWPARAM(120, 120),
                     reinterpret_cast<LPARAM>(&suggested)),
      0);
  RECT frame{};
  ::GetWindowRect(window.GetHandle(), &frame);
  EXPECT_EQ(frame.left, 30);
  EXPECT_EQ(frame.top, 40);
  EXPECT_EQ(frame.right - frame.left, 600);
  EXPECT_EQ(frame.bottom - frame.top, 450);
}

TEST_F(Win32WindowTest, DestroyingPostsQuitOnlyWhenAsked) {
  {
    RecordingWindow window;
    ASSERT_TRUE(window.Create(L"no quit", {10, 10}, {200, 100}));
    const int destroying_before = window.destroying_calls;
    ::DestroyWindow(window.GetHandle());
    EXPECT_EQ(window.GetHandle(), nullptr);
    EXPECT_GT(window.destroying_calls, destroying_before);
    EXPECT_FALSE(DrainQueueSawQuit());
  }
  {
    RecordingWindow window;
    ASSERT_TRUE(window.Create(L"quit", {10, 10}, {200, 100}));
    window.SetQuitWhenDestroyed(true);
    ::DestroyWindow(window.GetHandle());
    int exit_code = -1;
    EXPECT_TRUE(DrainQueueSawQuit(&exit_code));
    EXPECT_EQ(exit_code, 0);
  }
}

TEST_F(Win32WindowTest, ShowReportsEarlierVisibility) {
  RecordingWindow window;
  ASSERT_TRUE(window.Create(L"show", {10, 10}, {200, 100}));
  EXPECT_FALSE(window.Show());
  EXPECT_TRUE(::IsWindowVisible(window.GetHandle()));
  EXPECT_TRUE(window.Show());
}

// --- Theme
// --------------------------------------------------------------------------

struct ThemeProbe {
  LSTATUS read_status = ERROR_SUCCESS;
  DWORD stored_value = 0;
  std::wstring key;
  std::wstring value_name;
  DWORD flags = 0;
  int attribute_calls = 0;
  HWND attribute_window = nullptr;
  DWORD attribute = 0;
  BOOL dark = -1;
  DWORD attribute_size = 0;
};
ThemeProbe probe;

LSTATUS WINAPI FakeRegGetValue(HKEY root, LPCWSTR key, LPCWSTR value,
                               DWORD flags, LPDWORD type, PVOID data,
                               LPDWORD size) {
  EXPECT_EQ(root, HKEY_CURRENT_USER);
  probe.key = key;
  probe.value_name = value;
  probe.flags = flags;
  if (probe.read_status != ERROR_SUCCESS) return probe.read_status;
  if (type != nullptr) *type = REG_DWORD;
  EXPECT_EQ(*size, sizeof(DWORD));
  *static_cast<DWORD*>(data) = probe.stored_value;
  return ERROR_SUCCESS;
}

HRESULT WINAPI FakeSetWindowAttribute(HWND window, DWORD attribute,
                                      LPCVOID data, DWORD size) {
  ++probe.attribute_calls;
  probe.attribute_window = window;
  probe.attribute = attribute;
  probe.attribute_size = size;
  probe.dark = *static_cast<const BOOL*>(data);
  return S_OK;
}

class Win32WindowThemeTest : public Win32WindowTest {
 protected:
  void SetUp() override {
    Win32WindowTest::SetUp();
    probe = ThemeProbe();
  }
  const ThemeCalls calls_ = {FakeRegGetValue, FakeSetWindowAttribute};
  ScopedThemeCalls scoped_{calls_};
};

TEST_F(Win32WindowThemeTest, LightThemeValueZeroTurnsDarkModeOn) {
  probe.stored_value = 0;
  RecordingWindow window;
  ASSERT_TRUE(window.Create(L"dark", {10, 10}, {200, 100}));
  EXPECT_EQ(
      probe.key,
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize");
  EXPECT_EQ(probe.value_name, L"AppsUseLightTheme");
  EXPECT_EQ(probe.flags, static_cast<DWORD>(RRF_RT_REG_DWORD));
  ASSERT_EQ(probe.attribute_calls, 1);
  EXPECT_EQ(probe.attribute_window, window.GetHandle());
  EXPECT_EQ(probe.attribute, 20u);
  EXPECT_EQ(probe.attribute_size, 4u);
  EXPECT_EQ(probe.dark, TRUE);
}

TEST_F(Win32WindowThemeTest, AnyOtherValueTurnsDarkModeOff) {
  for (DWORD value : {1u, 2u, 0xFFFFFFFFu}) {
    probe.stored_value = value;
    probe.attribute_calls = 0;
    Win32Window::ApplySystemTheme(reinterpret_cast<HWND>(0x1234));
    EXPECT_EQ(probe.attribute_calls, 1) << value;
    EXPECT_EQ(probe.dark, FALSE) << value;
  }
}

TEST_F(Win32WindowThemeTest, MissingValueLeavesTheTitleBarAlone) {
  probe.read_status = ERROR_FILE_NOT_FOUND;
  RecordingWindow window;
  ASSERT_TRUE(window.Create(L"missing", {10, 10}, {200, 100}));
  EXPECT_EQ(probe.attribute_calls, 0);
}

TEST_F(Win32WindowThemeTest, ColourChangeAppliesTheThemeAgain) {
  probe.stored_value = 1;
  RecordingWindow window;
  ASSERT_TRUE(window.Create(L"again", {10, 10}, {200, 100}));
  ASSERT_EQ(probe.attribute_calls, 1);
  probe.stored_value = 0;
  EXPECT_EQ(
      ::SendMessageW(window.GetHandle(), WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0),
      0);
  EXPECT_EQ(probe.attribute_calls, 2);
  EXPECT_EQ(probe.dark, TRUE);
}

}  // namespace
}  // namespace flutter::testing
