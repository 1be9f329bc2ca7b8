#include "stand_ins/tunnel/key_text.h"

namespace tunnel_stand_in {
namespace {

// Returns the 6-bit value of a standard base64 character, or -1.
int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

bool IsKeyText(std::string_view text) {
  // 32 bytes are 256 bits: 43 characters carry 258, one "=" pads to 44.
  if (text.size() != 44 || text[43] != '=') return false;
  for (size_t i = 0; i < 43; ++i) {
    if (Base64Value(text[i]) < 0) return false;
  }
  // The two surplus bits must be zero, or two texts would name one key.
  return (Base64Value(text[42]) & 0x3) == 0;
}

}  // namespace tunnel_stand_in
