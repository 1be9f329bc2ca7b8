// Checks for the textual form of a 32-byte key in configuration files.
#ifndef STAND_INS_TUNNEL_KEY_TEXT_H_
#define STAND_INS_TUNNEL_KEY_TEXT_H_

#include <string_view>

namespace tunnel_stand_in {

// Returns true when `text` is exactly 32 bytes in canonical standard base64:
// 43 alphabet characters whose last two padding bits are zero, then "=".
bool IsKeyText(std::string_view text);

}  // namespace tunnel_stand_in

#endif  // STAND_INS_TUNNEL_KEY_TEXT_H_
