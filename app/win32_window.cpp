#include "app/win32_window.h"

#include "app/theme_calls.h"
#include "engine_client/flutter_windows.h"

namespace {

constexpr const wchar_t kWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

constexpr const wchar_t kThemeKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr const wchar_t kLightThemeValue[] = L"AppsUseLightTheme";
// DWMWA_USE_IMMERSIVE_DARK_MODE; older SDK headers lack the name.
constexpr DWORD kDarkModeAttribute = 20;

constexpr int kApplicationIconId = 101;

// Number of live Win32Window objects; the class goes when it drops to zero.
int active_window_count = 0;

// Registers the window class on first need and remembers that it did.
class WindowClassRegistration {
 public:
  // Returns the one registration; created on first use and never freed, so
  // it outlives every window.
  static WindowClassRegistration& Instance() {
    static WindowClassRegistration* const instance =
        new WindowClassRegistration();
    return *instance;
  }

  // Registers the class unless that has been done; returns its name.
  const wchar_t* GetWindowClass() {
    if (!class_registered_) {
      WNDCLASSW window_class{};
      window_class.style = CS_HREDRAW | CS_VREDRAW;
      window_class.lpfnWndProc = Win32Window::WndProc;
      window_class.cbClsExtra = 0;
      window_class.cbWndExtra = 0;
      window_class.hInstance = ::GetModuleHandleW(nullptr);
      window_class.hIcon = ::LoadIconW(window_class.hInstance,
                                       MAKEINTRESOURCEW(kApplicationIconId));
      window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
      window_class.hbrBackground = nullptr;
      window_class.lpszMenuName = nullptr;
      window_class.lpszClassName = kWindowClassName;
      ::RegisterClassW(&window_class);
      class_registered_ = true;
    }
    return kWindowClassName;
  }

  // Unregisters the class; forgets it whatever Windows answers.
  void UnregisterWindowClass() {
    ::UnregisterClassW(kWindowClassName, nullptr);
    class_registered_ = false;
  }

 private:
  WindowClassRegistration() = default;

  bool class_registered_ = false;
};

// Turns on DPI scaling of the non-client area where the system offers it;
// looked up at run time because older systems lack the function.
void EnableNonClientScaling(HWND window) {
  const win::ScopedLibrary user32(::LoadLibraryA("User32.dll"));
  if (!user32) return;
  using EnableNonClientDpiScalingFunction = BOOL(WINAPI*)(HWND);
  auto enable = reinterpret_cast<EnableNonClientDpiScalingFunction>(
      ::GetProcAddress(user32.Get(), "EnableNonClientDpiScaling"));
  if (enable != nullptr) enable(window);
}

}  // namespace

Win32Window::Win32Window() { ++active_window_count; }

Win32Window::~Win32Window() {
  --active_window_count;
  // Not Destroy(): a subclass's OnWindowDestroying cannot run from here, and
  // the subclass's own destructor has done its part.
  DestroyWindowAndClass();
}

int Win32Window::Scale(int source, double scale_factor) {
  return static_cast<int>(source * scale_factor);
}

bool Win32Window::Create(const std::wstring& title, const Point& origin,
                         const Size& size) {
  Destroy();

  const wchar_t* window_class =
      WindowClassRegistration::Instance().GetWindowClass();

  const POINT target_point = {static_cast<LONG>(origin.x),
                              static_cast<LONG>(origin.y)};
  HMONITOR monitor = ::MonitorFromPoint(target_point, MONITOR_DEFAULTTONEAREST);
  const UINT dpi = FlutterDesktopGetDpiForMonitor(monitor);
  const double scale_factor = dpi / 96.0;

  HWND window = ::CreateWindowExW(
      0, window_class, title.c_str(), WS_OVERLAPPEDWINDOW,
      Scale(origin.x, scale_factor), Scale(origin.y, scale_factor),
      Scale(size.width, scale_factor), Scale(size.height, scale_factor),
      nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
  if (window == nullptr) return false;

  ApplySystemTheme(window);
  return OnWindowCreated();
}

bool Win32Window::Show() {
  return ::ShowWindow(window_.Get(), SW_SHOWNORMAL) != 0;
}

void Win32Window::Destroy() {
  OnWindowDestroying();
  DestroyWindowAndClass();
}

void Win32Window::DestroyWindowAndClass() {
  // WM_DESTROY comes back through the window procedure while this runs.
  window_.Reset();
  // The child goes with its parent; a window created later must not size or
  // focus a handle that is dead or, worse, reused.
  content_window_ = nullptr;
  if (active_window_count == 0) {
    WindowClassRegistration::Instance().UnregisterWindowClass();
  }
}

void Win32Window::SetContentWindow(HWND content) {
  content_window_ = content;
  ::SetParent(content, window_.Get());
  const RECT frame = GetClientBounds();
  ::MoveWindow(content, frame.left, frame.top, frame.right - frame.left,
               frame.bottom - frame.top, TRUE);
  ::SetFocus(content_window_);
}

HWND Win32Window::GetHandle() { return window_.Get(); }

void Win32Window::SetQuitWhenDestroyed(bool quit_when_destroyed) {
  quit_when_destroyed_ = quit_when_destroyed;
}

RECT Win32Window::GetClientBounds() {
  RECT frame{};
  ::GetClientRect(window_.Get(), &frame);
  return frame;
}

void Win32Window::ApplySystemTheme(HWND window) {
  DWORD light_mode = 0;
  DWORD light_mode_size = sizeof(light_mode);
  const LSTATUS status = Theme().RegGetValueW(
      HKEY_CURRENT_USER, kThemeKey, kLightThemeValue, RRF_RT_REG_DWORD, nullptr,
      &light_mode, &light_mode_size);
  if (status != ERROR_SUCCESS) return;
  BOOL dark_mode = light_mode == 0 ? TRUE : FALSE;
  Theme().DwmSetWindowAttribute(window, kDarkModeAttribute, &dark_mode,
                                sizeof(dark_mode));
}

LRESULT CALLBACK Win32Window::WndProc(HWND window, UINT message, WPARAM wparam,
                                      LPARAM lparam) noexcept {
  if (message == WM_NCCREATE) {
    auto* create_struct = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* that = static_cast<Win32Window*>(create_struct->lpCreateParams);
    ::SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(that));
    EnableNonClientScaling(window);
    that->window_.Reset(window);
  } else if (auto* that = reinterpret_cast<Win32Window*>(
                 ::GetWindowLongPtrW(window, GWLP_USERDATA))) {
    return that->OnWindowMessage(window, message, wparam, lparam);
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

LRESULT Win32Window::OnWindowMessage(HWND window, UINT message, WPARAM wparam,
                                     LPARAM lparam) noexcept {
  switch (message) {
    case WM_DESTROY:
      // The window is going by itself: the owner lets it go unreleased.
      window_.Release();
      Destroy();
      if (quit_when_destroyed_) ::PostQuitMessage(0);
      return 0;

    case WM_DPICHANGED: {
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      ::SetWindowPos(window, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left,
                     suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }

    case WM_SIZE: {
      const RECT frame = GetClientBounds();
      if (content_window_ != nullptr) {
        ::MoveWindow(content_window_, frame.left, frame.top,
                     frame.right - frame.left, frame.bottom - frame.top, TRUE);
      }
      return 0;
    }

    case WM_ACTIVATE:
      if (content_window_ != nullptr) ::SetFocus(content_window_);
      return 0;

    case WM_DWMCOLORIZATIONCOLORCHANGED:
      ApplySystemTheme(window);
      return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

bool Win32Window::OnWindowCreated() { return true; }

void Win32Window::OnWindowDestroying() {}
