// The DPI-aware top-level window base: registers its window class once per
// process, creates the window in logical units scaled for its monitor,
// routes messages to a virtual handler, keeps one child window filling the
// client area and follows the user's light or dark app theme.
#ifndef APP_WIN32_WINDOW_H_
#define APP_WIN32_WINDOW_H_

#include <string>

#include "win/scoped_resource.h"

class Win32Window {
 public:
  // A position in logical units (96 DPI).
  struct Point {
    Point(int x, int y) : x(x), y(y) {}
    int x;
    int y;
  };

  // A size in logical units (96 DPI).
  struct Size {
    Size(int width, int height) : width(width), height(height) {}
    int width;
    int height;
  };

  Win32Window();
  virtual ~Win32Window();

  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the hidden top-level window with `title`, scaling `origin` and
  // `size` for the DPI of the monitor nearest the origin. Returns false when
  // no window was made or OnWindowCreated refused.
  bool Create(const std::wstring& title, const Point& origin, const Size& size);

  // Shows the window; returns true when it was visible before.
  bool Show();

  // Runs OnWindowDestroying, destroys the window and unregisters the class
  // once no Win32Window is left.
  void Destroy();

  // Makes `content` the child filling the client area and focuses it.
  void SetContentWindow(HWND content);

  // Returns the top-level window, or null when there is none.
  HWND GetHandle();

  // Makes destruction of the window post a quit message when true.
  void SetQuitWhenDestroyed(bool quit_when_destroyed);

  // Returns the client rectangle of the top-level window.
  RECT GetClientBounds();

  // Scales a logical value by `scale_factor`, truncating toward zero.
  static int Scale(int source, double scale_factor);

  // Sets the title bar of `window` dark or light after the user's app theme;
  // leaves it alone when the theme value cannot be read.
  static void ApplySystemTheme(HWND window);

  // The window procedure of the class: hands the object over at
  // WM_NCCREATE and forwards later messages to its OnWindowMessage.
  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam,
                                  LPARAM lparam) noexcept;

 protected:
  // Handles a message of the top-level window; the base covers destruction,
  // DPI changes, sizing, activation and theme changes.
  virtual LRESULT OnWindowMessage(HWND window, UINT message, WPARAM wparam,
                                  LPARAM lparam) noexcept;

  // Runs once the window exists; returning false fails Create.
  virtual bool OnWindowCreated();

  // Runs before the window goes; may run more than once per window.
  virtual void OnWindowDestroying();

 private:
  // Destroys the window, if any, and unregisters the class once no
  // Win32Window is left; runs no subclass code of its own.
  void DestroyWindowAndClass();

  bool quit_when_destroyed_ = false;
  win::ScopedWindow window_;
  HWND content_window_ = nullptr;
};

#endif  // APP_WIN32_WINDOW_H_
