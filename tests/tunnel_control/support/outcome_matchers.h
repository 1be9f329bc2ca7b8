// Checks of what a tunnel operation's caller sees, one assertion each, so a
// failure names the whole expected outcome.
#ifndef TESTS_TUNNEL_CONTROL_SUPPORT_OUTCOME_MATCHERS_H_
#define TESTS_TUNNEL_CONTROL_SUPPORT_OUTCOME_MATCHERS_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/tunnel_control/common/error_texts.h"
#include "app/tunnel_control/common/op_error.h"

namespace tunnel_control::testing {

// `error` holds exactly the vocabulary entry `text`, with `number` (an
// error number or exit code) where the entry carries one.
inline ::testing::AssertionResult ErrorIs(const OpError& error,
                                          const ErrorText& text,
                                          uint32_t number = 0) {
  const std::string message = MessageOf(text, number);
  if (error.code == text.code && error.message == message) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "error is {\"" << error.code << "\", \"" << error.message
         << "\"}, expected {\"" << text.code << "\", \"" << message << "\"}";
}

// `error` was never filled.
inline ::testing::AssertionResult NoError(const OpError& error) {
  if (error.code.empty() && error.message.empty()) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "error is {\"" << error.code << "\", \"" << error.message << "\"}";
}

}  // namespace tunnel_control::testing

#endif  // TESTS_TUNNEL_CONTROL_SUPPORT_OUTCOME_MATCHERS_H_
