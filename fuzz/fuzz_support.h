#ifndef FUZZ_FUZZ_SUPPORT_H_
#define FUZZ_FUZZ_SUPPORT_H_

#include <cmath>
#include <iostream>
#include <vector>

#include "codec/encodable_value.h"

namespace flutter::fuzzing {

// Drops the codec's standard-error lines: every malformed input writes some,
// and printing them would slow the fuzzer down to a crawl.
inline void SilenceStandardError() { std::cerr.rdbuf(nullptr); }

// Returns true if a NaN sits anywhere inside a map key of `value` (or inside
// `value` itself when `in_key`). A NaN is equivalent to every double, so maps
// holding one have no consistent order and need not survive a round trip.
inline bool HasNaNInKey(const EncodableValue& value, bool in_key = false) {
  if (const auto* number = std::get_if<double>(&value)) {
    return in_key && std::isnan(*number);
  }
  if (const auto* list = std::get_if<std::vector<double>>(&value)) {
    if (!in_key) return false;
    for (double element : *list) {
      if (std::isnan(element)) return true;
    }
    return false;
  }
  if (const auto* list = std::get_if<std::vector<float>>(&value)) {
    if (!in_key) return false;
    for (float element : *list) {
      if (std::isnan(element)) return true;
    }
    return false;
  }
  if (const auto* list = std::get_if<ValueList>(&value)) {
    for (const EncodableValue& element : *list) {
      if (HasNaNInKey(element, in_key)) return true;
    }
    return false;
  }
  if (const auto* map = std::get_if<ValueMap>(&value)) {
    for (const auto& [key, entry_value] : *map) {
      if (HasNaNInKey(key, true) || HasNaNInKey(entry_value, in_key)) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace flutter::fuzzing

#endif  // FUZZ_FUZZ_SUPPORT_H_
