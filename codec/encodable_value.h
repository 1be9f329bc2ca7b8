#ifndef CODEC_ENCODABLE_VALUE_H_
#define CODEC_ENCODABLE_VALUE_H_

#include <any>
#include <cstdint>
#include <map>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

namespace flutter {

class EncodableValue;

// A sequence of values in insertion order.
using ValueList = std::vector<EncodableValue>;

// Values keyed by values, iterated in ascending key order.
using ValueMap = std::map<EncodableValue, EncodableValue>;

// The payload of the null alternative. It deliberately has no three-way
// comparison: the standard library's variant comparison would otherwise
// recurse through the nested list and map types while checking its own
// constraints, and every comparison of values goes through operator< below.
struct NullValue {
  friend bool operator==(NullValue, NullValue) { return true; }
};

// Holds one value of any copyable type, for codec extensions that carry their
// own types. The standard codec writes it as null.
class CustomValue {
 public:
  template <typename T, typename = std::enable_if_t<
                            !std::is_same_v<std::decay_t<T>, CustomValue>>>
  explicit CustomValue(T&& value) : held_(std::forward<T>(value)) {}

  // Returns the type of the held value.
  const std::type_info& type() const noexcept { return held_.type(); }

  // Returns the held value if it has type T, otherwise nullptr.
  template <typename T>
  const T* TryGet() const noexcept {
    return std::any_cast<T>(&held_);
  }

 private:
  std::any held_;
};

// The alternatives in index order; the codec's wire tags follow from it.
using EncodableVariant = std::variant<NullValue,             // 0 null
                                      bool,                  // 1
                                      int32_t,               // 2
                                      int64_t,               // 3
                                      double,                // 4
                                      std::string,           // 5
                                      std::vector<uint8_t>,  // 6
                                      std::vector<int32_t>,  // 7
                                      std::vector<int64_t>,  // 8
                                      std::vector<double>,   // 9
                                      ValueList,             // 10
                                      ValueMap,              // 11
                                      CustomValue,           // 12
                                      std::vector<float>>;   // 13

// One value of a channel message. Being a variant, it works with std::get_if,
// std::holds_alternative and std::visit; GetIf and Get below are the
// project's own access forms.
class EncodableValue : public EncodableVariant {
 public:
  using EncodableVariant::EncodableVariant;
  using EncodableVariant::operator=;

  EncodableValue() = default;
  EncodableValue(std::monostate) {}
  // Text is a string value; without this a pointer could pick bool.
  EncodableValue(const char* text) : EncodableVariant(std::string(text)) {}

  // Returns true for the null alternative.
  bool IsNull() const noexcept { return index() == 0; }

  // Returns the payload if this value holds alternative T, otherwise nullptr.
  template <typename T>
  const T* GetIf() const noexcept {
    return std::get_if<T>(this);
  }
  template <typename T>
  T* GetIf() noexcept {
    return std::get_if<T>(this);
  }

  // Returns the payload of alternative T, or throws std::bad_variant_access
  // ("bad variant access") when the value holds another alternative.
  template <typename T>
  const T& Get() const {
    const T* payload = std::get_if<T>(this);
    if (payload == nullptr) throw std::bad_variant_access();
    return *payload;
  }
  template <typename T>
  T& Get() {
    T* payload = std::get_if<T>(this);
    if (payload == nullptr) throw std::bad_variant_access();
    return *payload;
  }

  // Orders by alternative index first, then by payload: negative, zero or
  // positive as a orders before, alongside or after b. Lists and maps walk
  // their elements in step and stop at the first that decides, so the cost is
  // linear in the size of the smaller value. A NaN double is neither before
  // nor after any double and decides nothing.
  friend int Compare(const EncodableValue& a, const EncodableValue& b);

  // Compare(a, b) < 0; the key order of ValueMap.
  friend bool operator<(const EncodableValue& a, const EncodableValue& b);

  // Compares structurally: same alternative and equal payloads (doubles by
  // value, so NaN is unequal to itself; custom values by identity).
  friend bool operator==(const EncodableValue& a, const EncodableValue& b);
};

// Declared here too so that callers may name it as flutter::Compare.
int Compare(const EncodableValue& a, const EncodableValue& b);

}  // namespace flutter

#endif  // CODEC_ENCODABLE_VALUE_H_
