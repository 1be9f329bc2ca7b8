// The one owner of what an API hands out: a handle, a module, a window, a
// block of memory. A small traits type says what "none" is and how to let
// go; every kind of owner is an alias of ScopedResource over its traits.
//
//   win::ScopedLocalAlloc<wchar_t> text;
//   if (!::ConvertSidToStringSidW(sid, text.Put())) return {};
//   return std::wstring(text.Get());
//
// The template itself is portable; the traits of Windows objects below it
// exist on Windows only.
#ifndef WIN_SCOPED_RESOURCE_H_
#define WIN_SCOPED_RESOURCE_H_

#include <utility>

#if defined(_WIN32)
#include "win/windows_api.h"
#endif

namespace win {

// Owns one value of Traits::Type and releases it with Traits::Close unless
// it equals Traits::Invalid(). On Windows a release keeps the thread's last
// error, so a caller can still read it after an early return has closed
// everything.
template <typename Traits>
class ScopedResource {
 public:
  using Type = typename Traits::Type;

  ScopedResource() = default;
  explicit ScopedResource(Type value) : value_(value) {}
  ~ScopedResource() { Reset(); }

  ScopedResource(const ScopedResource&) = delete;
  ScopedResource& operator=(const ScopedResource&) = delete;
  ScopedResource(ScopedResource&& other) noexcept : value_(other.Release()) {}
  ScopedResource& operator=(ScopedResource&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  Type Get() const { return value_; }
  bool IsValid() const { return value_ != Traits::Invalid(); }
  explicit operator bool() const { return IsValid(); }

  // Releases the held value (if any) and returns where an out-parameter
  // writes the next one.
  Type* Put() {
    Reset();
    return &value_;
  }

  // Gives up ownership without releasing.
  Type Release() { return std::exchange(value_, Traits::Invalid()); }

  // Releases the held value (if any) and takes `value`. The member is
  // cleared before the release runs, so whatever the release sets off sees
  // no value here.
  void Reset(Type value = Traits::Invalid()) {
    Type old = std::exchange(value_, value);
    if (old == Traits::Invalid()) return;
#if defined(_WIN32)
    const DWORD last_error = ::GetLastError();
    Traits::Close(old);
    ::SetLastError(last_error);
#else
    Traits::Close(old);
#endif
  }

 private:
  Type value_ = Traits::Invalid();
};

// Traits of a value that `CloseFunction` releases, null being none.
template <typename T, void (*CloseFunction)(T)>
struct NullIsNone {
  using Type = T;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { CloseFunction(value); }
};

#if defined(_WIN32)

// Traits of a handle that `CloseFunction` releases, INVALID_HANDLE_VALUE
// being none (files, searches).
template <void (*CloseFunction)(HANDLE)>
struct InvalidIsNone {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) { CloseFunction(value); }
};

// The release functions as plain functions of ours, whose addresses are
// constants (an imported function's is not, to every compiler).
template <typename T>
void FreeLocal(T* block) {
  ::LocalFree(const_cast<void*>(static_cast<const void*>(block)));
}
inline void CloseKernelHandle(HANDLE handle) { ::CloseHandle(handle); }
inline void CloseService(SC_HANDLE handle) { ::CloseServiceHandle(handle); }
inline void UnloadModule(HMODULE module) { ::FreeLibrary(module); }
inline void DestroyOwnedWindow(HWND window) { ::DestroyWindow(window); }

// A block from a LocalAlloc-style API, as the pointer type it holds.
template <typename T>
using ScopedLocalAlloc = ScopedResource<NullIsNone<T*, &FreeLocal<T>>>;
// A kernel handle whose failure value is null (process, event, token).
using ScopedHandle = ScopedResource<NullIsNone<HANDLE, &CloseKernelHandle>>;
// A kernel handle whose failure value is INVALID_HANDLE_VALUE (file,
// snapshot). The tunnel code's owners of the same kinds close through its
// platform seam and are named apart (tunnel_control::ScopedFileHandle).
using ScopedFile = ScopedResource<InvalidIsNone<&CloseKernelHandle>>;
// A service or service manager handle.
using ScopedScHandle = ScopedResource<NullIsNone<SC_HANDLE, &CloseService>>;
using ScopedLibrary = ScopedResource<NullIsNone<HMODULE, &UnloadModule>>;
using ScopedWindow = ScopedResource<NullIsNone<HWND, &DestroyOwnedWindow>>;

#endif  // defined(_WIN32)

}  // namespace win

#endif  // WIN_SCOPED_RESOURCE_H_
