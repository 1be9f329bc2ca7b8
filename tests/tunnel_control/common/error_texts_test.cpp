#include "app/tunnel_control/common/error_texts.h"

#include <gtest/gtest.h>

namespace tunnel_control::testing {
namespace {

TEST(WithErrorNumberTest, AppendsUnsignedDecimal) {
  EXPECT_EQ(WithErrorNumber("Could not open the tunnel service", 1060),
            "Could not open the tunnel service (error 1060)");
  EXPECT_EQ(WithErrorNumber("", 0), " (error 0)");
  EXPECT_EQ(WithErrorNumber("x", 0xC0000005u), "x (error 3221225477)");
}

TEST(SetOpErrorTest, ReplacesBothFieldsWhole) {
  OpError error{"old_code_that_is_long", "an older and longer message"};
  SetOpError(&error, "busy", "short");
  EXPECT_EQ(error.code, "busy");
  EXPECT_EQ(error.message, "short");
}

}  // namespace
}  // namespace tunnel_control::testing
