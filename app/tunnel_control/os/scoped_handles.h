// The owners of what Windows hands out to the tunnel code: the generic owner
// over releases that go through the platform seam, so simulated handles and
// blocks are counted too.
#ifndef APP_TUNNEL_CONTROL_OS_SCOPED_HANDLES_H_
#define APP_TUNNEL_CONTROL_OS_SCOPED_HANDLES_H_

#include "app/tunnel_control/os/platform.h"
#include "win/scoped_resource.h"

namespace tunnel_control {

// The seam's release functions, as functions whose addresses are constants.
inline void CloseServiceThroughSeam(SC_HANDLE handle) {
  Os().CloseServiceHandle(handle);
}
inline void CloseHandleThroughSeam(HANDLE handle) { Os().CloseHandle(handle); }
inline void CloseSearchThroughSeam(HANDLE search) { Os().FindClose(search); }
template <typename T>
void FreeLocalThroughSeam(T* block) {
  Os().LocalFree(const_cast<void*>(static_cast<const void*>(block)));
}
template <typename T>
void FreeCoTaskThroughSeam(T* block) {
  Os().CoTaskMemFree(const_cast<void*>(static_cast<const void*>(block)));
}

using ScopedServiceHandle =
    win::ScopedResource<win::NullIsNone<SC_HANDLE, &CloseServiceThroughSeam>>;
// A kernel handle whose failure value is null (process, token).
using ScopedKernelHandle =
    win::ScopedResource<win::NullIsNone<HANDLE, &CloseHandleThroughSeam>>;
// A file handle, whose failure value is INVALID_HANDLE_VALUE.
using ScopedFileHandle =
    win::ScopedResource<win::InvalidIsNone<&CloseHandleThroughSeam>>;
// A directory search, closed with FindClose.
using ScopedFindHandle =
    win::ScopedResource<win::InvalidIsNone<&CloseSearchThroughSeam>>;
// A block from a LocalAlloc-style API (SIDs, SID strings, descriptors), as
// the pointer type it holds.
template <typename T>
using ScopedLocalMemory =
    win::ScopedResource<win::NullIsNone<T*, &FreeLocalThroughSeam<T>>>;
// A block from CoTaskMemAlloc (known-folder paths).
template <typename T>
using ScopedCoTaskMemory =
    win::ScopedResource<win::NullIsNone<T*, &FreeCoTaskThroughSeam<T>>>;

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_OS_SCOPED_HANDLES_H_
