#include "app/tunnel_control/client/tunnel_config.h"

#include <string>

#include "app/tunnel_control/common/error_texts.h"
#include "app/tunnel_control/common/tunnel_paths.h"
#include "app/tunnel_control/os/platform.h"
#include "app/tunnel_control/os/process_user.h"
#include "app/tunnel_control/os/scoped_handles.h"

namespace tunnel_control {
namespace {

// A descriptor that names this process's own user as the owner and leaves
// the access list to the directory. An elevated process would otherwise
// give the file to the Administrators, and the user, reduced to reading it,
// could not replace it later without elevation. Empty when the user cannot
// be read: the file then gets the default owner.
ScopedLocalMemory<void> OwnUserDescriptor() {
  const std::wstring user = CurrentUserSidString();
  ScopedLocalMemory<void> descriptor;
  if (user.empty() ||
      !Os().ConvertStringSecurityDescriptorToSecurityDescriptorW(
          (L"O:" + user).c_str(), SDDL_REVISION_1, descriptor.Put(), nullptr)) {
    return {};
  }
  return descriptor;
}

}  // namespace

bool WriteTunnelConfig(std::string_view config, OpError* error,
                       DWORD* failure) {
  DWORD ignored = ERROR_SUCCESS;
  if (failure == nullptr) failure = &ignored;
  *failure = ERROR_SUCCESS;
  const std::wstring path = ConfigFilePath();
  if (path.empty()) {
    SetOpError(error, kProgramDataUnresolved);
    return false;
  }
  // An existing file keeps its owner and DACL when reopened, and may be a
  // link to another file: never write into it, always start a new one.
  DWORD last_error = ERROR_SUCCESS;
  if (!Os().DeleteFileW(path.c_str()) &&
      ::GetLastError() != ERROR_FILE_NOT_FOUND) {
    last_error = ::GetLastError();
  }
  ScopedFileHandle file;
  if (last_error == ERROR_SUCCESS) {
    const ScopedLocalMemory<void> descriptor = OwnUserDescriptor();
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.Get(), FALSE};
    file.Reset(Os().CreateFileW(path.c_str(), GENERIC_WRITE, 0,
                                descriptor ? &attributes : nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) last_error = ::GetLastError();
  }
  if (!file) {
    *failure = last_error;
    SetOpError(error, kConfigWriteFailed, last_error);
    return false;
  }
  // One call with a 32-bit count: a text of 4 GiB or more cannot match the
  // count written below and ends as a short write.
  DWORD written = 0;
  const BOOL wrote =
      Os().WriteFile(file.Get(), config.data(),
                     static_cast<DWORD>(config.size()), &written, nullptr);
  file.Reset();
  if (!wrote || written != config.size()) {
    Os().DeleteFileW(path.c_str());
    SetOpError(error, kConfigShortWrite);
    return false;
  }
  return true;
}

DWORD DeleteTunnelConfig() {
  const std::wstring path = ConfigFilePath();
  if (path.empty() || Os().DeleteFileW(path.c_str())) return ERROR_SUCCESS;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

}  // namespace tunnel_control
