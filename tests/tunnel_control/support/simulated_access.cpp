#include "tests/tunnel_control/support/simulated_access.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <map>

namespace tunnel_control::testing {
namespace {

// Well-known SID aliases that SDDL and ConvertStringSidToSidW accept.
struct Alias {
  const wchar_t* name;
  const wchar_t* sid;
};
constexpr Alias kAliases[] = {
    {L"SY", L"S-1-5-18"}, {L"BA", L"S-1-5-32-544"}, {L"BU", L"S-1-5-32-545"},
    {L"IU", L"S-1-5-4"},  {L"SU", L"S-1-5-6"},      {L"WD", L"S-1-1-0"},
    {L"AU", L"S-1-5-11"}, {L"LS", L"S-1-5-19"},     {L"NS", L"S-1-5-20"},
    {L"CO", L"S-1-3-0"},  {L"OW", L"S-1-3-4"},
};

constexpr wchar_t kSystem[] = L"S-1-5-18";
constexpr wchar_t kAdministrators[] = L"S-1-5-32-544";
constexpr wchar_t kOwnerRights[] = L"S-1-3-4";

// Whether `token` holds `sid` for an entry: deny-only SIDs match deny
// entries only ("SID Attributes in an Access Token",
// SE_GROUP_USE_FOR_DENY_ONLY).
bool Holds(const Token& token, const std::wstring& sid, bool deny_entry) {
  if (sid.empty()) return false;
  for (const TokenSid& held : token) {
    if (held.sid == sid && (deny_entry || !held.deny_only)) return true;
  }
  return false;
}

}  // namespace

Token TokenOf(const std::wstring& user_sid, bool elevated, bool system,
              bool filtered_admin) {
  Token token = {
      {CanonicalSid(user_sid)}, {L"S-1-1-0"}, {L"S-1-5-11"}, {L"S-1-5-32-545"}};
  // Interactive logons carry INTERACTIVE; services under LocalSystem do not.
  if (!system) token.push_back({L"S-1-5-4"});
  // "LocalSystem Account": its token includes NT AUTHORITY\SYSTEM and
  // BUILTIN\Administrators.
  if (system && token[0].sid != kSystem) token.push_back({kSystem});
  // A filtered administrator's token keeps the Administrators for deny only
  // ("How User Account Control works": the standard user access token).
  if (system || elevated || filtered_admin) {
    token.push_back({kAdministrators, !(system || elevated)});
  }
  return token;
}

// Parses "S-1-a-s1-s2..." or an alias into the binary SID layout.
std::optional<std::vector<unsigned char>> ParseSid(const std::wstring& text) {
  std::wstring sid = text;
  for (const Alias& alias : kAliases) {
    if (text == alias.name) sid = alias.sid;
  }
  // The system parsers are looser than the canonical form: a lower-case
  // prefix and leading blanks pass.
  sid.erase(0, sid.find_first_not_of(L' '));
  if (sid.size() >= 1 && sid[0] == L's') sid[0] = L'S';
  if (sid.size() < 4 || sid.compare(0, 4, L"S-1-") != 0) return std::nullopt;
  std::vector<uint64_t> parts;
  size_t pos = 4;
  while (true) {
    size_t end = sid.find(L'-', pos);
    if (end == std::wstring::npos) end = sid.size();
    if (end == pos || end - pos > 15) return std::nullopt;
    uint64_t value = 0;
    for (size_t i = pos; i < end; ++i) {
      if (sid[i] < L'0' || sid[i] > L'9') return std::nullopt;
      value = value * 10 + static_cast<uint64_t>(sid[i] - L'0');
    }
    parts.push_back(value);
    if (end == sid.size()) break;
    pos = end + 1;
  }
  // parts[0] is the authority, the rest are sub-authorities.
  if (parts.empty() || parts.size() > 16 || parts[0] >= (1ull << 48)) {
    return std::nullopt;
  }
  std::vector<unsigned char> bytes(8 + 4 * (parts.size() - 1));
  bytes[0] = 1;
  bytes[1] = static_cast<unsigned char>(parts.size() - 1);
  for (int i = 0; i < 6; ++i) {
    bytes[2 + i] = static_cast<unsigned char>(parts[0] >> (8 * (5 - i)));
  }
  for (size_t i = 1; i < parts.size(); ++i) {
    if (parts[i] > 0xFFFFFFFFull) return std::nullopt;
    const uint32_t sub = static_cast<uint32_t>(parts[i]);
    std::memcpy(&bytes[8 + 4 * (i - 1)], &sub, 4);
  }
  return bytes;
}

std::optional<std::wstring> SidToText(const void* sid) {
  const auto* bytes = static_cast<const unsigned char*>(sid);
  if (bytes == nullptr || bytes[0] != 1 || bytes[1] > 15) return std::nullopt;
  uint64_t authority = 0;
  for (int i = 0; i < 6; ++i) authority = (authority << 8) | bytes[2 + i];
  std::wstring text = L"S-1-" + std::to_wstring(authority);
  for (int i = 0; i < bytes[1]; ++i) {
    uint32_t sub;
    std::memcpy(&sub, bytes + 8 + 4 * i, 4);
    text += L"-" + std::to_wstring(sub);
  }
  return text;
}

std::wstring CanonicalSid(const std::wstring& text) {
  const std::optional<std::vector<unsigned char>> sid = ParseSid(text);
  return sid ? SidToText(sid->data()).value_or(L"") : std::wstring();
}

// Rights of one SDDL ACE: hex or two-letter codes.
std::optional<DWORD> ParseRights(const std::wstring& rights) {
  if (rights.size() > 2 && rights[0] == L'0' &&
      (rights[1] == L'x' || rights[1] == L'X')) {
    wchar_t* end = nullptr;
    const unsigned long value = std::wcstoul(rights.c_str() + 2, &end, 16);
    if (end == nullptr || *end != L'\0') return std::nullopt;
    return static_cast<DWORD>(value);
  }
  static const std::map<std::wstring, DWORD> kCodes = {
      {L"CC", 0x1},        {L"DC", 0x2},        {L"LC", 0x4},
      {L"SW", 0x8},        {L"RP", 0x10},       {L"WP", 0x20},
      {L"DT", 0x40},       {L"LO", 0x80},       {L"CR", 0x100},
      {L"SD", 0x10000},    {L"RC", 0x20000},    {L"WD", 0x40000},
      {L"WO", 0x80000},    {L"GA", 0x10000000}, {L"GX", 0x20000000},
      {L"GW", 0x40000000}, {L"GR", 0x80000000}, {L"FA", 0x1F01FF},
      {L"FR", 0x120089},   {L"FW", 0x120116},   {L"FX", 0x1200A0},
  };
  if (rights.size() % 2 != 0) return std::nullopt;
  DWORD mask = 0;
  for (size_t i = 0; i < rights.size(); i += 2) {
    auto it = kCodes.find(rights.substr(i, 2));
    if (it == kCodes.end()) return std::nullopt;
    mask |= it->second;
  }
  return mask;
}

std::vector<std::wstring> SplitFields(const std::wstring& ace) {
  std::vector<std::wstring> fields;
  size_t pos = 0;
  while (true) {
    const size_t end = ace.find(L';', pos);
    fields.push_back(ace.substr(pos, end - pos));
    if (end == std::wstring::npos) break;
    pos = end + 1;
  }
  return fields;
}

bool HasAceFlag(const std::wstring& flags, const wchar_t* flag) {
  for (size_t i = 0; i + 1 < flags.size(); i += 2) {
    if (flags.compare(i, 2, flag) == 0) return true;
  }
  return false;
}

std::vector<std::wstring> SddlAces(const std::wstring& sddl) {
  std::vector<std::wstring> aces;
  size_t pos = 0;
  while ((pos = sddl.find(L'(', pos)) != std::wstring::npos) {
    const size_t close = sddl.find(L')', pos);
    if (close == std::wstring::npos) break;
    aces.push_back(sddl.substr(pos + 1, close - pos - 1));
    pos = close + 1;
  }
  return aces;
}

// Access rights of an ACE with the generic bits mapped for files.
DWORD MapGenericFileRights(DWORD rights) {
  if (rights & GENERIC_READ) rights |= FILE_GENERIC_READ;
  if (rights & GENERIC_WRITE) rights |= FILE_GENERIC_WRITE;
  if (rights & GENERIC_EXECUTE) rights |= FILE_GENERIC_EXECUTE;
  if (rights & GENERIC_ALL) rights |= FILE_ALL_ACCESS;
  return rights &
         ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
}

// "Service Security and Access Rights": the generic rights of a service.
DWORD MapGenericServiceRights(DWORD rights) {
  if (rights & GENERIC_READ) {
    rights |= STANDARD_RIGHTS_READ | SERVICE_QUERY_CONFIG |
              SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
              SERVICE_ENUMERATE_DEPENDENTS;
  }
  if (rights & GENERIC_WRITE)
    rights |= STANDARD_RIGHTS_WRITE | SERVICE_CHANGE_CONFIG;
  if (rights & GENERIC_EXECUTE) {
    rights |= STANDARD_RIGHTS_EXECUTE | SERVICE_START | SERVICE_STOP |
              SERVICE_PAUSE_CONTINUE | SERVICE_USER_DEFINED_CONTROL;
  }
  if (rights & GENERIC_ALL) rights |= SERVICE_ALL_ACCESS;
  return rights &
         ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
}

DWORD GrantedAccess(const Token& token, const std::wstring& owner,
                    const std::wstring& dacl, DWORD (*map)(DWORD), DWORD all) {
  // "Null DACLs and Empty DACLs": no DACL grants everyone full access.
  if (dacl.empty()) return all;
  const bool is_owner =
      !owner.empty() && Holds(token, CanonicalSid(owner), false);
  bool owner_rights_entry = false;
  DWORD allowed = 0;
  DWORD denied = 0;
  // "How DACLs Control Access to an Object": entries in order, each bit
  // decided by the first entry that names it; inherit-only entries skipped.
  for (const std::wstring& ace : SddlAces(dacl)) {
    const std::vector<std::wstring> f = SplitFields(ace);
    if (f.size() != 6 || (f[0] != L"A" && f[0] != L"D") ||
        HasAceFlag(f[1], L"IO")) {
      continue;
    }
    const std::wstring sid = CanonicalSid(f[5]);
    const bool deny = f[0] == L"D";
    // OWNER RIGHTS stands for the current owner ("Well-known SIDs").
    const bool owner_rights = sid == kOwnerRights;
    owner_rights_entry = owner_rights_entry || owner_rights;
    if (owner_rights ? !is_owner : !Holds(token, sid, deny)) continue;
    const DWORD rights = map(ParseRights(f[2]).value_or(0));
    if (deny) denied |= rights & ~allowed;
    if (!deny) allowed |= rights & ~denied;
  }
  // The owner may always read and change the DACL, unless an entry for
  // OWNER RIGHTS says what the owner may do ("Well-known SIDs": OWNER RIGHTS).
  if (is_owner && !owner_rights_entry) allowed |= READ_CONTROL | WRITE_DAC;
  return allowed;
}

}  // namespace tunnel_control::testing
