// The logical values the codec benchmarks encode and decode, each held in the
// natural in-memory form of both codecs.
#ifndef BENCH_PAYLOADS_H_
#define BENCH_PAYLOADS_H_

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "codec/encodable_value.h"

namespace bench {

// One element of the mixed list as a C++ program would hold it without our
// value type.
using MixedElement = std::variant<std::monostate, bool, int32_t, std::string>;

// The channel's real traffic: the calls the UI sends and the envelopes it
// gets back.
struct TrafficValues {
  std::string connect_name = "connect";
  std::string stage_name = "stage";
  // A tunnel configuration text of 600 bytes.
  std::string config;
  // The argument of "connect": {"config": config}.
  flutter::EncodableValue connect_arguments;
  std::map<std::string, std::string> connect_arguments_native;
  std::string success_text = "connected";
  std::string busy_code = "busy";
  std::string busy_message = "Another tunnel operation is in progress";
};

// Large flat payloads, where the limit is a block copy.
struct BulkValues {
  std::vector<uint8_t> bytes;   // 1 MiB
  std::vector<double> doubles;  // 262,144 elements
  std::vector<int32_t> int32s;  // 262,144 elements
  flutter::EncodableValue bytes_value;
  flutter::EncodableValue doubles_value;
  flutter::EncodableValue int32s_value;
};

// Many small values, where per-value costs dominate.
struct StructureValues {
  std::map<std::string, int32_t> map_native;  // 1,000 entries
  std::vector<MixedElement> mixed_native;     // 10,000 elements
  flutter::EncodableValue map_value;
  flutter::EncodableValue mixed_value;
  // Lists nested kNestingDepth deep: each level holds its level number and
  // the next level; the innermost holds only its level number.
  flutter::EncodableValue nested_value;
};

inline constexpr int kNestingDepth = 32;

// Builds the values; the same seed gives the same values on every run.
TrafficValues MakeTrafficValues();
BulkValues MakeBulkValues();
StructureValues MakeStructureValues();

}  // namespace bench

#endif  // BENCH_PAYLOADS_H_
