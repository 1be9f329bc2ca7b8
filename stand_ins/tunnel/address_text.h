// Checks for the address forms that appear in tunnel configuration values.
#ifndef STAND_INS_TUNNEL_ADDRESS_TEXT_H_
#define STAND_INS_TUNNEL_ADDRESS_TEXT_H_

#include <cstdint>
#include <optional>
#include <string_view>

namespace tunnel_stand_in {

// Returns true for a dotted-quad IPv4 address without leading zeros.
bool IsIpv4Address(std::string_view text);

// Returns true for a textual IPv6 address (at most one "::", an optional
// trailing dotted quad). Zone suffixes are not accepted.
bool IsIpv6Address(std::string_view text);

// Returns true for an IPv4 or IPv6 address with an optional "/prefix" that
// fits the address family (0-32 or 0-128).
bool IsAddressWithPrefix(std::string_view text);

// Returns true for a host name made of letters, digits, '-' and '.'.
bool IsHostName(std::string_view text);

// Returns true for "host:port" or "[ipv6]:port" with a port of 1-65535.
bool IsEndpoint(std::string_view text);

// Parses an unsigned decimal number (digits only) no larger than `max`.
std::optional<uint32_t> ParseNumber(std::string_view text, uint32_t max);

}  // namespace tunnel_stand_in

#endif  // STAND_INS_TUNNEL_ADDRESS_TEXT_H_
