// Owners for the window-system objects the stand-in engine creates.
#ifndef STAND_INS_ENGINE_SCOPED_WINDOW_H_
#define STAND_INS_ENGINE_SCOPED_WINDOW_H_

#include <utility>

#include "win/windows_api.h"

namespace stand_in {

// Owns a window and destroys it unless it is already gone (a parent's
// destruction takes its children with it).
class ScopedWindow {
 public:
  ScopedWindow() = default;
  explicit ScopedWindow(HWND window) : window_(window) {}
  ~ScopedWindow() { Reset(); }
  ScopedWindow(const ScopedWindow&) = delete;
  ScopedWindow& operator=(const ScopedWindow&) = delete;

  HWND Get() const { return window_; }

  // Destroys the held window, if any, and takes `window`.
  void Reset(HWND window = nullptr) {
    HWND old = std::exchange(window_, window);
    if (old != nullptr && IsWindow(old)) DestroyWindow(old);
  }

 private:
  HWND window_ = nullptr;
};

// Owns a GDI object (font, brush) and deletes it.
template <typename T>
class ScopedGdiObject {
 public:
  ScopedGdiObject() = default;
  explicit ScopedGdiObject(T object) : object_(object) {}
  ~ScopedGdiObject() {
    if (object_ != nullptr) DeleteObject(object_);
  }
  ScopedGdiObject(const ScopedGdiObject&) = delete;
  ScopedGdiObject& operator=(const ScopedGdiObject&) = delete;

  T Get() const { return object_; }

 private:
  T object_ = nullptr;
};

// Selects an object into a device context for one scope.
class ScopedSelectObject {
 public:
  ScopedSelectObject(HDC dc, HGDIOBJ object)
      : dc_(dc), old_(SelectObject(dc, object)) {}
  ~ScopedSelectObject() { SelectObject(dc_, old_); }
  ScopedSelectObject(const ScopedSelectObject&) = delete;
  ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

}  // namespace stand_in

#endif  // STAND_INS_ENGINE_SCOPED_WINDOW_H_
