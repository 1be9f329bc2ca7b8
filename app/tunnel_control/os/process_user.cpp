#include "app/tunnel_control/os/process_user.h"

#include "app/tunnel_control/os/platform.h"
#include "app/tunnel_control/os/scoped_handles.h"

namespace tunnel_control {
namespace {

// The token-user header (16 bytes in 64-bit layout) plus the largest SID.
constexpr DWORD kTokenUserBufferSize = 84;

#if defined(_WIN64)
static_assert(sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE ==
              kTokenUserBufferSize);
#endif

}  // namespace

std::wstring CurrentUserSidString() {
  ScopedKernelHandle token;
  if (!Os().OpenProcessToken(Os().GetCurrentProcess(), TOKEN_QUERY,
                             token.Put())) {
    return {};
  }

  alignas(TOKEN_USER) BYTE buffer[kTokenUserBufferSize] = {};
  DWORD returned = 0;
  const BOOL read = Os().GetTokenInformation(token.Get(), TokenUser, buffer,
                                             sizeof(buffer), &returned);
  token.Reset();
  if (!read) return {};

  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer);
  ScopedLocalMemory<wchar_t> text;
  if (!Os().ConvertSidToStringSidW(user->User.Sid, text.Put())) return {};
  return std::wstring(text.Get());
}

}  // namespace tunnel_control
