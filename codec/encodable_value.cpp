#include "codec/encodable_value.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace flutter {
namespace {

// Three-way payload comparisons for two values of the same alternative:
// negative, zero or positive as a orders before, alongside or after b. Each
// visits every element pair at most once, so comparing nested lists and maps
// costs time linear in their size.

template <typename T>
int CompareScalars(const T& a, const T& b) {
  // Written with < alone so that a NaN, neither less nor greater than any
  // double, compares as undecided.
  if (a < b) return -1;
  if (b < a) return 1;
  return 0;
}

int PayloadCompare(const NullValue&, const NullValue&) { return 0; }

int PayloadCompare(const CustomValue& a, const CustomValue& b) {
  // Custom values carry no ordering of their own; their identity is stable
  // while both exist, which is all a map key needs.
  std::less<const CustomValue*> less;
  if (less(&a, &b)) return -1;
  if (less(&b, &a)) return 1;
  return 0;
}

// Strings compare as unsigned bytes through their char traits, so 0x7F
// orders before 0x80.
int PayloadCompare(const std::string& a, const std::string& b) {
  return a.compare(b);
}

// A proper prefix orders first.
int CompareLengths(size_t a, size_t b) { return CompareScalars(a, b); }

int PayloadCompare(const ValueList& a, const ValueList& b) {
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    if (int order = Compare(a[i], b[i])) return order;
  }
  return CompareLengths(a.size(), b.size());
}

// Entries in ascending key order; within an entry the key decides first.
int PayloadCompare(const ValueMap& a, const ValueMap& b) {
  auto x = a.begin();
  auto y = b.begin();
  for (; x != a.end() && y != b.end(); ++x, ++y) {
    if (int order = Compare(x->first, y->first)) return order;
    if (int order = Compare(x->second, y->second)) return order;
  }
  return CompareLengths(a.size(), b.size());
}

// Typed sequences compare element-wise; elements that are neither less nor
// greater (equal, or a NaN involved) do not decide. uint8_t elements compare
// as unsigned, the integer lists as signed.
template <typename T>
int PayloadCompare(const std::vector<T>& a, const std::vector<T>& b) {
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    if (int order = CompareScalars(a[i], b[i])) return order;
  }
  return CompareLengths(a.size(), b.size());
}

// bool, the integers and double.
template <typename T>
int PayloadCompare(const T& a, const T& b) {
  return CompareScalars(a, b);
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

int Compare(const EncodableValue& a, const EncodableValue& b) {
  if (a.index() != b.index()) return a.index() < b.index() ? -1 : 1;
  return std::visit(
      [&b](const auto& lhs) -> int {
        using Payload = std::decay_t<decltype(lhs)>;
        return PayloadCompare(lhs, *std::get_if<Payload>(&b));
      },
      static_cast<const EncodableVariant&>(a));
}

bool operator<(const EncodableValue& a, const EncodableValue& b) {
  return Compare(a, b) < 0;
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
