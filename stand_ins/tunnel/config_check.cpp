#include "stand_ins/tunnel/config_check.h"

#include <array>
#include <cctype>
#include <set>

#include "stand_ins/tunnel/address_text.h"
#include "stand_ins/tunnel/key_text.h"

namespace tunnel_stand_in {
namespace {

enum class Section { kNone, kInterface, kPeer, kStandIn };

enum class ValueKind {
  kKey,
  kAddressList,  // comma-separated addresses with optional prefix
  kDnsList,      // comma-separated addresses or host names
  kPort,
  kMtu,
  kEndpoint,
  kKeepalive,
  kMilliseconds,
};

struct KeyRule {
  Section section;
  std::string_view name;
  ValueKind kind;
  bool repeatable;  // list values may be split over several lines
};

constexpr std::array<KeyRule, 13> kKeyRules = {{
    {Section::kInterface, "PrivateKey", ValueKind::kKey, false},
    {Section::kInterface, "Address", ValueKind::kAddressList, true},
    {Section::kInterface, "ListenPort", ValueKind::kPort, false},
    {Section::kInterface, "DNS", ValueKind::kDnsList, true},
    {Section::kInterface, "MTU", ValueKind::kMtu, false},
    {Section::kPeer, "PublicKey", ValueKind::kKey, false},
    {Section::kPeer, "PresharedKey", ValueKind::kKey, false},
    {Section::kPeer, "AllowedIPs", ValueKind::kAddressList, true},
    {Section::kPeer, "Endpoint", ValueKind::kEndpoint, false},
    {Section::kPeer, "PersistentKeepalive", ValueKind::kKeepalive, false},
    {Section::kStandIn, "StartDelayMs", ValueKind::kMilliseconds, false},
    {Section::kStandIn, "StopDelayMs", ValueKind::kMilliseconds, false},
    {Section::kStandIn, "StopAfterMs", ValueKind::kMilliseconds, false},
}};

// One hour is far beyond any wait the service manager tolerates.
constexpr uint32_t kMaxMilliseconds = 3600000;

std::string_view Trim(std::string_view text) {
  const auto is_space = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string_view SectionName(Section section) {
  switch (section) {
    case Section::kInterface:
      return "[Interface]";
    case Section::kPeer:
      return "[Peer]";
    case Section::kStandIn:
      return "[StandIn]";
    case Section::kNone:
      break;
  }
  return "no section";
}

// Returns true when every comma-separated item passes `item_ok`.
template <typename Predicate>
bool IsList(std::string_view value, Predicate item_ok) {
  size_t start = 0;
  while (true) {
    const size_t comma = value.find(',', start);
    const std::string_view item = Trim(value.substr(
        start, comma == std::string_view::npos ? value.npos : comma - start));
    if (!item_ok(item)) return false;
    if (comma == std::string_view::npos) return true;
    start = comma + 1;
  }
}

bool IsValidValue(ValueKind kind, std::string_view value) {
  switch (kind) {
    case ValueKind::kKey:
      return IsKeyText(value);
    case ValueKind::kAddressList:
      return IsList(value, IsAddressWithPrefix);
    case ValueKind::kDnsList:
      return IsList(value, [](std::string_view item) {
        return IsIpv4Address(item) || IsIpv6Address(item) || IsHostName(item);
      });
    case ValueKind::kPort:
      return ParseNumber(value, 65535).has_value();
    case ValueKind::kMtu: {
      const auto mtu = ParseNumber(value, 65535);
      return mtu && *mtu >= 576;
    }
    case ValueKind::kEndpoint:
      return IsEndpoint(value);
    case ValueKind::kKeepalive:
      return value == "off" || ParseNumber(value, 65535).has_value();
    case ValueKind::kMilliseconds:
      return ParseNumber(value, kMaxMilliseconds).has_value();
  }
  return false;
}

// Walks the text line by line and keeps what the whole-file rules need.
class Checker {
 public:
  ConfigCheck Run(std::string_view text) {
    size_t start = 0;
    int line_number = 0;
    while (start <= text.size() && result_.error.empty()) {
      const size_t end = text.find('\n', start);
      std::string_view line = text.substr(
          start, end == std::string_view::npos ? text.npos : end - start);
      ++line_number;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      CheckLine(line_number, line);
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
    if (result_.error.empty()) FinishSection();
    if (result_.error.empty() && interface_count_ == 0) {
      result_.error = "no [Interface] section";
    }
    if (result_.error.empty() && result_.peer_count == 0) {
      result_.error = "no [Peer] section";
    }
    result_.valid = result_.error.empty();
    return result_;
  }

 private:
  void Fail(int line_number, std::string_view reason) {
    result_.error = "line " + std::to_string(line_number) + ": ";
    result_.error += reason;
  }

  void CheckLine(int line_number, std::string_view line) {
    const size_t comment = line.find('#');
    if (comment != std::string_view::npos) line = line.substr(0, comment);
    line = Trim(line);
    if (line.empty()) return;
    if (line.front() == '[') {
      StartSection(line_number, line);
    } else {
      CheckKeyLine(line_number, line);
    }
  }

  void StartSection(int line_number, std::string_view line) {
    if (line.back() != ']') {
      Fail(line_number, "unterminated section header");
      return;
    }
    FinishSection();
    if (!result_.error.empty()) return;
    const std::string_view name = Trim(line.substr(1, line.size() - 2));
    seen_keys_.clear();
    section_line_ = line_number;
    if (EqualsIgnoringCase(name, "Interface")) {
      if (++interface_count_ > 1) {
        Fail(line_number, "second [Interface] section");
      }
      section_ = Section::kInterface;
    } else if (EqualsIgnoringCase(name, "Peer")) {
      ++result_.peer_count;
      section_ = Section::kPeer;
    } else if (EqualsIgnoringCase(name, "StandIn")) {
      if (++stand_in_count_ > 1) Fail(line_number, "second [StandIn] section");
      section_ = Section::kStandIn;
    } else {
      Fail(line_number, "unknown section [" + std::string(name) + "]");
    }
  }

  void CheckKeyLine(int line_number, std::string_view line) {
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      Fail(line_number, "expected Key = Value");
      return;
    }
    const std::string_view key = Trim(line.substr(0, equals));
    const std::string_view value = Trim(line.substr(equals + 1));
    if (section_ == Section::kNone) {
      Fail(line_number, "key outside of a section");
      return;
    }
    const KeyRule* rule = FindRule(key);
    if (rule == nullptr) {
      Fail(line_number, "unknown key \"" + std::string(key) + "\" in " +
                            std::string(SectionName(section_)));
      return;
    }
    if (!seen_keys_.insert(std::string(rule->name)).second &&
        !rule->repeatable) {
      Fail(line_number, "duplicate key " + std::string(rule->name));
      return;
    }
    if (value.empty() || !IsValidValue(rule->kind, value)) {
      Fail(line_number, "invalid value for " + std::string(rule->name));
      return;
    }
    if (rule->kind == ValueKind::kMilliseconds) {
      const uint32_t ms = *ParseNumber(value, kMaxMilliseconds);
      if (rule->name == "StartDelayMs") result_.timings.start_delay_ms = ms;
      if (rule->name == "StopDelayMs") result_.timings.stop_delay_ms = ms;
      if (rule->name == "StopAfterMs") result_.timings.stop_after_ms = ms;
    }
  }

  const KeyRule* FindRule(std::string_view key) const {
    for (const KeyRule& rule : kKeyRules) {
      if (rule.section == section_ && EqualsIgnoringCase(rule.name, key)) {
        return &rule;
      }
    }
    return nullptr;
  }

  // Checks that the section just read has its required keys.
  void FinishSection() {
    const auto require = [this](std::string_view key) {
      if (result_.error.empty() && !seen_keys_.count(std::string(key))) {
        Fail(section_line_, std::string(SectionName(section_)) +
                                " section without " + std::string(key));
      }
    };
    if (section_ == Section::kInterface) {
      require("PrivateKey");
      require("Address");
    } else if (section_ == Section::kPeer) {
      require("PublicKey");
      require("AllowedIPs");
    }
  }

  ConfigCheck result_;
  Section section_ = Section::kNone;
  int section_line_ = 0;
  int interface_count_ = 0;
  int stand_in_count_ = 0;
  std::set<std::string> seen_keys_;
};

}  // namespace

ConfigCheck CheckConfig(std::string_view text) { return Checker().Run(text); }

}  // namespace tunnel_stand_in
