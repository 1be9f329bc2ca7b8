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

std::string MessageOf(const ErrorText& text, uint32_t number) {
  switch (text.suffix) {
    case ErrorSuffix::kErrorNumber:
      return WithErrorNumber(text.message, number);
    case ErrorSuffix::kHelperExitCode:
      // Unsigned, so a crash status reads as e.g. 3221225477.
      return std::string(text.message) + " (helper exit code " +
             std::to_string(number) + ")";
    case ErrorSuffix::kNone:
      break;
  }
  return std::string(text.message);
}

void SetOpError(OpError* error, std::string_view code, std::string message) {
  error->code.assign(code);
  error->message = std::move(message);
}

void SetOpError(OpError* error, const ErrorText& text, uint32_t number) {
  SetOpError(error, text.code, MessageOf(text, number));
}

}  // namespace tunnel_control
