// Formatting of Windows error numbers into operation messages, and the
// record-filling helper every failing step uses.
#ifndef APP_TUNNEL_CONTROL_COMMON_ERROR_TEXTS_H_
#define APP_TUNNEL_CONTROL_COMMON_ERROR_TEXTS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "app/tunnel_control/common/op_error.h"

namespace tunnel_control {

// Returns `message` followed by " (error N)", N in unsigned decimal.
std::string WithErrorNumber(std::string_view message, uint32_t error);

// Replaces the record's code, then its message.
void SetOpError(OpError* error, std::string_view code, std::string message);

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_COMMON_ERROR_TEXTS_H_
