// The account this process runs as.
#ifndef APP_TUNNEL_CONTROL_OS_PROCESS_USER_H_
#define APP_TUNNEL_CONTROL_OS_PROCESS_USER_H_

#include <string>

namespace tunnel_control {

// Returns the string form (S-1-5-...) of the process token's user SID, or an
// empty string when any step of the lookup fails.
std::wstring CurrentUserSidString();

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_OS_PROCESS_USER_H_
