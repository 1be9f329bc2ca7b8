// RAII owners for what Windows hands out to the tunnel code. Each release
// goes through the platform seam, so simulated handles are counted too, and
// keeps the thread's last error intact so a caller can still read it after
// an early return has closed everything.
#ifndef APP_TUNNEL_CONTROL_OS_SCOPED_HANDLES_H_
#define APP_TUNNEL_CONTROL_OS_SCOPED_HANDLES_H_

#include <utility>

#include "app/tunnel_control/os/platform.h"

namespace tunnel_control {

// Owns one value of Traits::Type and releases it with Traits::Close unless
// it equals Traits::Invalid().
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

  // Gives up ownership without releasing.
  Type Release() { return std::exchange(value_, Traits::Invalid()); }

  // Releases the held value (if any) and takes `value`.
  void Reset(Type value = Traits::Invalid()) {
    Type old = std::exchange(value_, value);
    if (old != Traits::Invalid()) {
      const DWORD last_error = ::GetLastError();
      Traits::Close(old);
      ::SetLastError(last_error);
    }
  }

 private:
  Type value_ = Traits::Invalid();
};

struct ServiceHandleTraits {
  using Type = SC_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { Os().CloseServiceHandle(h); }
};

// A kernel handle whose failure value is null (process, token).
struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { Os().CloseHandle(h); }
};

// A file handle, whose failure value is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { Os().CloseHandle(h); }
};

// A directory search, closed with FindClose.
struct FindHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { Os().FindClose(h); }
};

// A block from a LocalAlloc-style API (SIDs, SID strings, descriptors).
struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Invalid() { return nullptr; }
  static void Close(Type p) { Os().LocalFree(p); }
};

// A block from CoTaskMemAlloc (known-folder paths).
struct CoTaskMemoryTraits {
  using Type = void*;
  static Type Invalid() { return nullptr; }
  static void Close(Type p) { Os().CoTaskMemFree(p); }
};

using ScopedServiceHandle = ScopedResource<ServiceHandleTraits>;
using ScopedKernelHandle = ScopedResource<KernelHandleTraits>;
using ScopedFileHandle = ScopedResource<FileHandleTraits>;
using ScopedFindHandle = ScopedResource<FindHandleTraits>;
using ScopedLocalMemory = ScopedResource<LocalMemoryTraits>;
using ScopedCoTaskMemory = ScopedResource<CoTaskMemoryTraits>;

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_OS_SCOPED_HANDLES_H_
