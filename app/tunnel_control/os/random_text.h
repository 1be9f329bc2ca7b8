// Unguessable names for objects made beside others: the installer's aside
// folders and the service host's fresh log.
#ifndef APP_TUNNEL_CONTROL_OS_RANDOM_TEXT_H_
#define APP_TUNNEL_CONTROL_OS_RANDOM_TEXT_H_

#include <string>

namespace tunnel_control {

// Returns sixteen random lower-case hex digits, or an empty string when the
// system's random source fails.
std::wstring RandomHex();

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_OS_RANDOM_TEXT_H_
