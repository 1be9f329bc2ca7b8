// Conversions between JSON text and message values: scenarios write call
// arguments as JSON, and the transcript shows replies as JSON.
#ifndef STAND_INS_ENGINE_JSON_VALUE_H_
#define STAND_INS_ENGINE_JSON_VALUE_H_

#include <string>
#include <string_view>

#include "codec/encodable_value.h"

namespace stand_in {

// Parses one JSON value (surrounding blanks allowed): integers become int32
// when they fit and int64 otherwise, other numbers float64, arrays lists and
// objects maps with string keys. Returns false on malformed text.
bool ParseJson(std::string_view text, flutter::EncodableValue* value);

// Writes `value` as JSON text. Typed lists become arrays, byte lists arrays
// of numbers, map keys that are not strings the JSON text of the key, and
// values JSON cannot hold (custom values, non-finite numbers) null.
std::string ToJson(const flutter::EncodableValue& value);

}  // namespace stand_in

#endif  // STAND_INS_ENGINE_JSON_VALUE_H_
