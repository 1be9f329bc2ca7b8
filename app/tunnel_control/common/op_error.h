// The outcome record of one tunnel operation.
#ifndef APP_TUNNEL_CONTROL_COMMON_OP_ERROR_H_
#define APP_TUNNEL_CONTROL_COMMON_OP_ERROR_H_

#include <string>

namespace tunnel_control {

// Filled by a failing step: code first, then message. Both stay empty while
// the operation succeeds.
struct OpError {
  std::string code;     // lower_case_words, e.g. "scm_unavailable"
  std::string message;  // English, UTF-8, may end in " (error N)"
};

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_COMMON_OP_ERROR_H_
