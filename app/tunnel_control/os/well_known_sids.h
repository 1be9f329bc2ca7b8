// The well-known SIDs the tunnel code grants to or trusts, in text form.
#ifndef APP_TUNNEL_CONTROL_OS_WELL_KNOWN_SIDS_H_
#define APP_TUNNEL_CONTROL_OS_WELL_KNOWN_SIDS_H_

#include <string>

namespace tunnel_control {

inline constexpr wchar_t kSystemSid[] = L"S-1-5-18";
inline constexpr wchar_t kAdministratorsSid[] = L"S-1-5-32-544";
inline constexpr wchar_t kTrustedInstallerSid[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// CREATOR OWNER: an inheritable entry for it goes to whoever creates a file.
inline constexpr wchar_t kCreatorOwnerSid[] = L"S-1-3-0";
// OWNER RIGHTS: an entry for it speaks for the owner, whoever that is.
inline constexpr wchar_t kOwnerRightsSid[] = L"S-1-3-4";

// SYSTEM or the Administrators: whom the installer's own folders and files
// may belong to.
inline bool IsSystemOrAdministrators(const std::wstring& sid) {
  return sid == kSystemSid || sid == kAdministratorsSid;
}

// Those or TrustedInstaller, which owns what Windows itself installs: who may
// change the executable's folder and the folders above it.
inline bool IsTrustedPrincipal(const std::wstring& sid) {
  return IsSystemOrAdministrators(sid) || sid == kTrustedInstallerSid;
}

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_OS_WELL_KNOWN_SIDS_H_
