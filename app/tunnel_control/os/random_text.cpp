#include "app/tunnel_control/os/random_text.h"

#include "app/tunnel_control/os/platform.h"

namespace tunnel_control {

std::wstring RandomHex() {
  unsigned char bytes[8] = {};
  if (!Os().RtlGenRandom(bytes, sizeof(bytes))) return std::wstring();
  constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text;
  for (unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

}  // namespace tunnel_control
