// Validation of a tunnel configuration file's text.
#ifndef STAND_INS_TUNNEL_CONFIG_CHECK_H_
#define STAND_INS_TUNNEL_CONFIG_CHECK_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tunnel_stand_in {

// The test-only behaviour asked for by the [StandIn] section.
struct StandInTimings {
  uint32_t start_delay_ms = 0;  // time spent start-pending before running
  uint32_t stop_delay_ms = 0;   // time spent stop-pending after a stop
  std::optional<uint32_t> stop_after_ms;  // stop unasked after running this
};

// The outcome of checking one configuration text.
struct ConfigCheck {
  bool valid = false;
  std::string error;  // "line N: ..." or a whole-file reason; empty if valid
  int peer_count = 0;
  StandInTimings timings;
};

// Checks `text` as a tunnel configuration: exactly one [Interface] with a
// PrivateKey and an Address, one or more [Peer] sections each with a
// PublicKey and AllowedIPs, at most one [StandIn]; every section and key
// must be known and every value well-formed.
ConfigCheck CheckConfig(std::string_view text);

}  // namespace tunnel_stand_in

#endif  // STAND_INS_TUNNEL_CONFIG_CHECK_H_
