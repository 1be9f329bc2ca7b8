#include "codec/encodable_value.h"

#include <algorithm>
#include <functional>

namespace flutter {
namespace {

// Payload orderings for two values of the same alternative.

bool PayloadLess(const NullValue&, const NullValue&) { return false; }

bool PayloadLess(const CustomValue& a, const CustomValue& b) {
  // Custom values carry no ordering of their own; their identity is stable
  // while both exist, which is all a map key needs.
  return std::less<const CustomValue*>()(&a, &b);
}

bool PayloadLess(const ValueMap& a, const ValueMap& b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [](const ValueMap::value_type& x, const ValueMap::value_type& y) {
        if (x.first < y.first) return true;
        if (y.first < x.first) return false;
        return x.second < y.second;
      });
}

// Sequences compare element-wise; elements that are neither less nor greater
// (equal, or a NaN involved) do not decide, and a proper prefix is less.
// uint8_t elements compare as unsigned, the integer lists as signed.
template <typename T>
bool PayloadLess(const std::vector<T>& a, const std::vector<T>& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

// bool, the integers, double, and strings (whose traits compare bytes as
// unsigned char, so 0x7F orders before 0x80).
template <typename T>
bool PayloadLess(const T& a, const T& b) {
  return a < b;
}

bool PayloadEqual(const NullValue&, const NullValue&) { return true; }

bool PayloadEqual(const CustomValue& a, const CustomValue& b) {
  return &a == &b;
}

template <typename T>
bool PayloadEqual(const T& a, const T& b) {
  return a == b;
}

}  // namespace

bool operator<(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) return a.index() < b.index();
  return std::visit(
      [&b](const auto& lhs) -> bool {
        using Payload = std::decay_t<decltype(lhs)>;
        return PayloadLess(lhs, *std::get_if<Payload>(&b));
      },
      static_cast<const EncodableVariant&>(a));
}

bool operator==(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) return false;
  return std::visit(
      [&b](const auto& lhs) -> bool {
        using Payload = std::decay_t<decltype(lhs)>;
        return PayloadEqual(lhs, *std::get_if<Payload>(&b));
      },
      static_cast<const EncodableVariant&>(a));
}

}  // namespace flutter
