// Wide-to-UTF-8 conversion for log lines.
#ifndef STAND_INS_TUNNEL_UTF8_TEXT_H_
#define STAND_INS_TUNNEL_UTF8_TEXT_H_

#include <string>
#include <string_view>

namespace tunnel_stand_in {

// Converts a wide string to UTF-8; text that is not valid UTF-16 gives "?".
std::string ToUtf8(std::wstring_view text);

}  // namespace tunnel_stand_in

#endif  // STAND_INS_TUNNEL_UTF8_TEXT_H_
