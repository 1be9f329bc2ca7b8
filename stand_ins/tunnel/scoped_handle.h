// RAII owner for the kernel handles the stand-in opens (files, events).
#ifndef STAND_INS_TUNNEL_SCOPED_HANDLE_H_
#define STAND_INS_TUNNEL_SCOPED_HANDLE_H_

#include <utility>

#include "win/windows_api.h"

namespace tunnel_stand_in {

// Closes a kernel handle on destruction. Both null and INVALID_HANDLE_VALUE
// count as "no handle", since files and events fail with different values.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() { Reset(); }

  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.handle_, nullptr));
    return *this;
  }

  HANDLE Get() const { return handle_; }
  bool IsValid() const {
    return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE;
  }

  // Closes the held handle, keeping the thread's last error, and takes
  // `handle`.
  void Reset(HANDLE handle = nullptr) {
    HANDLE old = std::exchange(handle_, handle);
    if (old != nullptr && old != INVALID_HANDLE_VALUE) {
      const DWORD last_error = ::GetLastError();
      ::CloseHandle(old);
      ::SetLastError(last_error);
    }
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace tunnel_stand_in

#endif  // STAND_INS_TUNNEL_SCOPED_HANDLE_H_
