#include "bench/payloads.h"

#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <utility>

namespace bench {
namespace {

// A fixed linear congruential sequence: the same values on every run, with
// no library-dependent distribution.
class Sequence {
 public:
  uint32_t Next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(state_ >> 32);
  }

 private:
  uint64_t state_ = 0x5eed;
};

// Returns a configuration-like text of exactly `size` bytes.
std::string MakeConfigText(size_t size) {
  static const char kLines[] =
      "# tunnel profile\n"
      "secret = q8Xf3LmR0aZt7YbW2nKc9VhJ4sPd6GeU1oTiB5wNxE0=\n"
      "address = 10.64.12.7/32\n"
      "dns = 10.64.0.1\n"
      "route = 0.0.0.0/0\n"
      "server = 203.0.113.24:40000\n"
      "keepalive = 25\n";
  std::string text;
  text.reserve(size);
  while (text.size() < size) {
    size_t take = std::min(size - text.size(), sizeof(kLines) - 1);
    text.append(kLines, take);
  }
  return text;
}

flutter::EncodableValue ToValue(const MixedElement& element) {
  return std::visit(
      [](const auto& held) -> flutter::EncodableValue {
        using Held = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<Held, std::monostate>) {
          return flutter::EncodableValue();
        } else {
          return flutter::EncodableValue(held);
        }
      },
      element);
}

}  // namespace

TrafficValues MakeTrafficValues() {
  TrafficValues values;
  values.config = MakeConfigText(600);
  values.connect_arguments = flutter::EncodableValue(
      flutter::ValueMap{{flutter::EncodableValue("config"),
                         flutter::EncodableValue(values.config)}});
  values.connect_arguments_native = {{"config", values.config}};
  return values;
}

BulkValues MakeBulkValues() {
  constexpr size_t kBytes = 1 << 20;
  constexpr size_t kElements = 262144;
  Sequence sequence;
  BulkValues values;
  values.bytes.resize(kBytes);
  for (uint8_t& byte : values.bytes) {
    byte = static_cast<uint8_t>(sequence.Next());
  }
  values.doubles.resize(kElements);
  for (double& element : values.doubles) {
    element = static_cast<double>(sequence.Next()) / 65536.0 - 32768.0;
  }
  values.int32s.resize(kElements);
  for (int32_t& element : values.int32s) {
    element = static_cast<int32_t>(sequence.Next());
  }
  values.bytes_value = flutter::EncodableValue(values.bytes);
  values.doubles_value = flutter::EncodableValue(values.doubles);
  values.int32s_value = flutter::EncodableValue(values.int32s);
  return values;
}

StructureValues MakeStructureValues() {
  Sequence sequence;
  StructureValues values;
  flutter::ValueMap map;
  for (int i = 0; i < 1000; ++i) {
    std::string key = "key" + std::to_string(i);
    int32_t entry = static_cast<int32_t>(sequence.Next()) >> 12;
    values.map_native.emplace(key, entry);
    map.emplace(flutter::EncodableValue(key), flutter::EncodableValue(entry));
  }
  values.map_value = flutter::EncodableValue(std::move(map));

  flutter::ValueList mixed;
  mixed.reserve(10000);
  for (int i = 0; i < 10000; ++i) {
    uint32_t draw = sequence.Next();
    MixedElement element;
    switch (i % 4) {
      case 0:
        break;
      case 1:
        element = (draw & 1) != 0;
        break;
      case 2:
        element = static_cast<int32_t>(draw) >> 8;
        break;
      default:
        element = "item" + std::to_string(draw % 100000);
        break;
    }
    mixed.push_back(ToValue(element));
    values.mixed_native.push_back(std::move(element));
  }
  values.mixed_value = flutter::EncodableValue(std::move(mixed));

  flutter::EncodableValue nested(flutter::ValueList{
      flutter::EncodableValue(static_cast<int32_t>(kNestingDepth - 1))});
  for (int level = kNestingDepth - 2; level >= 0; --level) {
    nested = flutter::EncodableValue(
        flutter::ValueList{flutter::EncodableValue(static_cast<int32_t>(level)),
                           std::move(nested)});
  }
  values.nested_value = std::move(nested);
  return values;
}

}  // namespace bench
