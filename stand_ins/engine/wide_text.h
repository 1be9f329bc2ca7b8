// UTF-8 and UTF-16 conversions for the stand-in engine's records.
#ifndef STAND_INS_ENGINE_WIDE_TEXT_H_
#define STAND_INS_ENGINE_WIDE_TEXT_H_

#include <string>
#include <string_view>

namespace stand_in {

// Converts UTF-16 to UTF-8; invalid input gives an empty string.
std::string WideToUtf8(std::wstring_view wide);

// Converts UTF-8 to UTF-16; invalid input gives an empty string.
std::wstring Utf8ToWide(std::string_view utf8);

}  // namespace stand_in

#endif  // STAND_INS_ENGINE_WIDE_TEXT_H_
