// Which SID strings the installer grants the service and the data directory
// to: one user's account, never a group, an alias or a service account.
#ifndef APP_TUNNEL_CONTROL_INSTALLER_USER_SID_H_
#define APP_TUNNEL_CONTROL_INSTALLER_USER_SID_H_

#include <string>

namespace tunnel_control {

// True when `text`, by its text alone, is the canonical string of a user
// account's SID: "S-1-5-21-a-b-c-RID" with RID 500 to 511 or from 1000 on,
// or "S-1-12-1-a-b-c-d", in upper case, decimal with no leading zero, no
// padding.
bool HasUserAccountForm(const std::wstring& text);

// True when `text` is the canonical string of one user account: a local or
// domain account (S-1-5-21-a-b-c-RID, the built-in accounts with RIDs 500 to
// 511 included, the well-known group RIDs 512 to 999 not) or a cloud account
// (S-1-12-1-a-b-c-d), and, when the account resolves, of type user. The text
// also goes into SDDL strings, so anything Windows would read differently
// (aliases such as "WD", lower case, padding, leading zeros) is refused.
bool IsSingleUserSid(const std::wstring& text);

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_INSTALLER_USER_SID_H_
