// The access model of the simulated Windows: SDDL and SIDs, the caller's
// token, and the access check a file or service open goes through. Kept on
// its own so it can be read against the differential table that holds it
// to a real implementation (tests/tunnel_control/support/access_cases.txt).
#ifndef TESTS_TUNNEL_CONTROL_SUPPORT_SIMULATED_ACCESS_H_
#define TESTS_TUNNEL_CONTROL_SUPPORT_SIMULATED_ACCESS_H_

#include <optional>
#include <string>
#include <vector>

#include "win/windows_api.h"

namespace tunnel_control::testing {

// One group (or the user) of a token. A deny-only SID matches deny entries
// and never allow entries.
struct TokenSid {
  std::wstring sid;  // canonical "S-1-..." text
  bool deny_only = false;
  bool operator==(const TokenSid&) const = default;
};
using Token = std::vector<TokenSid>;

// The token of a process of `user_sid`: an elevated administrator, SYSTEM,
// a filtered (non-elevated) administrator, or a standard user.
Token TokenOf(const std::wstring& user_sid, bool elevated, bool system,
              bool filtered_admin);

// Parses "S-1-a-s1-s2..." or an SDDL alias ("BA", "OW") into the binary
// SID layout; SidToText reads that layout back.
std::optional<std::vector<unsigned char>> ParseSid(const std::wstring& text);
std::optional<std::wstring> SidToText(const void* sid);
// The canonical text of a SID or alias; empty when it does not parse.
std::wstring CanonicalSid(const std::wstring& text);

// Rights of one SDDL ACE: hex or two-letter codes, generic bits unmapped.
std::optional<DWORD> ParseRights(const std::wstring& rights);
// The six fields of an SDDL ACE body ("A;OICI;FA;;;SY").
std::vector<std::wstring> SplitFields(const std::wstring& ace);
bool HasAceFlag(const std::wstring& flags, const wchar_t* flag);
// Splits an SDDL ACL ("D:PAI(...)(...)") into its entries, without the
// parentheses; used by the simulation and handy for assertions.
std::vector<std::wstring> SddlAces(const std::wstring& sddl);

// The generic bits of a mask mapped for files and for services.
DWORD MapGenericFileRights(DWORD rights);
DWORD MapGenericServiceRights(DWORD rights);

// Every right `token` holds on an object with `owner` and `dacl` (SDDL
// "D:..."; empty: no DACL, which grants everything). Generic bits in the
// entries are mapped with `map`; `all` is the object type's full access.
DWORD GrantedAccess(const Token& token, const std::wstring& owner,
                    const std::wstring& dacl, DWORD (*map)(DWORD), DWORD all);

}  // namespace tunnel_control::testing

#endif  // TESTS_TUNNEL_CONTROL_SUPPORT_SIMULATED_ACCESS_H_
