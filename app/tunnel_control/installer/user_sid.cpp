#include "app/tunnel_control/installer/user_sid.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/tunnel_control/os/platform.h"
#include "app/tunnel_control/os/scoped_handles.h"

namespace tunnel_control {
namespace {

// The numbers after "S-1-" of a SID string in canonical form: the
// authority, then the sub-authorities, each decimal with no leading zero.
std::optional<std::vector<uint64_t>> SidNumbers(const std::wstring& text) {
  constexpr wchar_t kPrefix[] = L"S-1-";
  if (text.compare(0, 4, kPrefix) != 0) return std::nullopt;
  std::vector<uint64_t> numbers;
  uint64_t value = 0;
  size_t digits = 0;
  for (size_t i = 4; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == L'-') {
      if (digits == 0) return std::nullopt;
      numbers.push_back(value);
      value = 0;
      digits = 0;
    } else if (text[i] >= L'0' && text[i] <= L'9' && digits < 15 &&
               (digits == 0 || value != 0)) {
      value = value * 10 + static_cast<uint64_t>(text[i] - L'0');
      ++digits;
    } else {
      return std::nullopt;
    }
  }
  return numbers;
}

// False only when the account resolves to something other than a user; an
// account that cannot be resolved here (a domain out of reach) passes on its
// form alone.
bool ResolvesToUserOrNothing(PSID sid) {
  std::vector<wchar_t> name(256), domain(256);
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD name_length = static_cast<DWORD>(name.size());
    DWORD domain_length = static_cast<DWORD>(domain.size());
    SID_NAME_USE use = SidTypeUnknown;
    if (Os().LookupAccountSidW(nullptr, sid, name.data(), &name_length,
                               domain.data(), &domain_length, &use)) {
      return use == SidTypeUser;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return true;
    name.resize(std::max<size_t>(name_length, name.size()));
    domain.resize(std::max<size_t>(domain_length, domain.size()));
  }
  return false;
}

}  // namespace

bool HasUserAccountForm(const std::wstring& text) {
  const auto numbers = SidNumbers(text);
  if (!numbers || numbers->size() != 6) return false;
  const std::vector<uint64_t>& n = *numbers;
  // Sub-authorities are 32-bit: a larger one has no canonical form.
  if (*std::max_element(n.begin() + 1, n.end()) > 0xFFFFFFFFull) return false;
  // A local or domain account's reserved RIDs below 1000 are accounts up to
  // 511 and groups above.
  if (n[0] == 5 && n[1] == 21) {
    const uint64_t rid = n[5];
    return rid >= 1000 || (rid >= 500 && rid <= 511);
  }
  return n[0] == 12 && n[1] == 1;
}

bool IsSingleUserSid(const std::wstring& text) {
  ScopedLocalMemory<void> sid;
  if (text.empty() || !Os().ConvertStringSidToSidW(text.c_str(), sid.Put())) {
    return false;
  }
  ScopedLocalMemory<wchar_t> canonical;
  if (!Os().ConvertSidToStringSidW(sid.Get(), canonical.Put())) return false;
  return text == canonical.Get() && HasUserAccountForm(text) &&
         ResolvesToUserOrNothing(sid.Get());
}

}  // namespace tunnel_control
