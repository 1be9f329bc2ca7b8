#include "app/tunnel_control/common/error_texts.h"

#include <utility>

namespace tunnel_control {

std::string WithErrorNumber(std::string_view message, uint32_t error) {
  std::string text(message);
  text += " (error ";
  text += std::to_string(error);
  text += ')';
  return text;
}

void SetOpError(OpError* error, std::string_view code, std::string message) {
  error->code.assign(code);
  error->message = std::move(message);
}

}  // namespace tunnel_control
