#include "stand_ins/tunnel/address_text.h"

#include <cctype>

namespace tunnel_stand_in {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Counts the groups of a "::"-free IPv6 part ("1:2:3"), or -1 when
// malformed. The last group may be a dotted quad, which counts twice.
int CountIpv6Groups(std::string_view part, bool may_end_in_ipv4) {
  if (part.empty()) return 0;
  int groups = 0;
  size_t start = 0;
  while (true) {
    const size_t colon = part.find(':', start);
    const std::string_view group = part.substr(
        start, colon == std::string_view::npos ? part.npos : colon - start);
    const bool last = colon == std::string_view::npos;
    if (last && may_end_in_ipv4 && group.find('.') != group.npos) {
      return IsIpv4Address(group) ? groups + 2 : -1;
    }
    if (group.empty() || group.size() > 4) return -1;
    for (char c : group) {
      if (!IsHexDigit(c)) return -1;
    }
    ++groups;
    if (last) return groups;
    start = colon + 1;
  }
}

}  // namespace

std::optional<uint32_t> ParseNumber(std::string_view text, uint32_t max) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return static_cast<uint32_t>(value);
}

bool IsIpv4Address(std::string_view text) {
  int parts = 0;
  size_t start = 0;
  while (true) {
    const size_t dot = text.find('.', start);
    const std::string_view part = text.substr(
        start, dot == std::string_view::npos ? text.npos : dot - start);
    if (part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
    if (!ParseNumber(part, 255)) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

bool IsIpv6Address(std::string_view text) {
  const size_t gap = text.find("::");
  if (gap == std::string_view::npos) {
    return CountIpv6Groups(text, true) == 8;
  }
  if (text.find("::", gap + 1) != std::string_view::npos) return false;
  const int head = CountIpv6Groups(text.substr(0, gap), false);
  const int tail = CountIpv6Groups(text.substr(gap + 2), true);
  return head >= 0 && tail >= 0 && head + tail <= 7;
}

bool IsAddressWithPrefix(std::string_view text) {
  const size_t slash = text.find('/');
  const std::string_view address = text.substr(0, slash);
  uint32_t max_prefix = 0;
  if (IsIpv4Address(address)) {
    max_prefix = 32;
  } else if (IsIpv6Address(address)) {
    max_prefix = 128;
  } else {
    return false;
  }
  if (slash == std::string_view::npos) return true;
  const std::string_view prefix = text.substr(slash + 1);
  return prefix.size() <= 3 && ParseNumber(prefix, max_prefix).has_value();
}

bool IsHostName(std::string_view text) {
  if (text.empty() || text.size() > 253) return false;
  if (text.front() == '.' || text.front() == '-' || text.back() == '.') {
    return false;
  }
  for (char c : text) {
    const bool allowed =
        std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.';
    if (!allowed) return false;
  }
  return true;
}

bool IsEndpoint(std::string_view text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view host = text.substr(0, colon);
  const auto port = ParseNumber(text.substr(colon + 1), 65535);
  if (!port || *port == 0) return false;
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    return IsIpv6Address(host.substr(1, host.size() - 2));
  }
  return IsIpv4Address(host) || IsHostName(host);
}

}  // namespace tunnel_stand_in
