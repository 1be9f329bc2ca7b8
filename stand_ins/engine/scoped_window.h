// Owners for the window-system objects the stand-in engine creates.
#ifndef STAND_INS_ENGINE_SCOPED_WINDOW_H_
#define STAND_INS_ENGINE_SCOPED_WINDOW_H_

#include "win/scoped_resource.h"

namespace stand_in {

// A parent's destruction takes its children with it, so a child may be gone
// before its owner.
inline void DestroyIfAlive(HWND window) {
  if (IsWindow(window)) DestroyWindow(window);
}

template <typename T>
void DeleteGdiObject(T object) {
  DeleteObject(object);
}

// Owns a window and destroys it unless it is already gone.
using ScopedWindow =
    win::ScopedResource<win::NullIsNone<HWND, &DestroyIfAlive>>;

// Owns a GDI object (font, brush) and deletes it.
template <typename T>
using ScopedGdiObject =
    win::ScopedResource<win::NullIsNone<T, &DeleteGdiObject<T>>>;

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
