#include "app/tunnel_control/common/error_texts.h"

#include <gtest/gtest.h>

#include <string>

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
  SetOpError(&error, "new", "short");
  EXPECT_EQ(error.code, "new");
  EXPECT_EQ(error.message, "short");

  SetOpError(&error, kStopFailed, 5);
  EXPECT_EQ(error.code, "stop_failed");
  EXPECT_EQ(error.message, "Could not stop the tunnel service (error 5)");
}

// The one place the UI's vocabulary is written out: what the UI and its
// users see must not change with the code that produces it.
TEST(ErrorVocabularyTest, EachEntryReadsAsTheUiExpects) {
  struct Row {
    const ErrorText& entry;
    const char* code;
    const char* message;  // with 7 where the entry carries a number
  };
  const Row rows[] = {
      {kScmUnavailable, "scm_unavailable",
       "Could not reach the service manager (error 7)"},
      {kServiceUnavailable, "service_unavailable",
       "Could not open the tunnel service (error 7)"},
      {kPreviousStopTimedOut, "stop_failed",
       "Timed out stopping the previous tunnel"},
      {kStopFailed, "stop_failed",
       "Could not stop the tunnel service (error 7)"},
      {kStartFailed, "start_failed",
       "Could not start the tunnel service (error 7)"},
      {kTunnelFailed, "tunnel_failed",
       "Tunnel service exited during startup "
       "(see %ProgramData%\\VarnVPN\\log.bin)"},
      {kProgramDataUnresolved, "config_write_failed",
       "Could not resolve %ProgramData%"},
      {kConfigWriteFailed, "config_write_failed",
       "Could not write the tunnel config (error 7)"},
      {kConfigShortWrite, "config_write_failed",
       "Short write while saving the tunnel config"},
      {kInstallUnresolved, "install_failed",
       "Could not resolve the current user or executable path"},
      {kInstallLaunchFailed, "install_failed",
       "Could not launch the elevated tunnel installer (error 7)"},
      {kElevationDeclined, "elevation_declined",
       "Could not launch the elevated tunnel installer (error 7)"},
      {kInstallHelperFailed, "install_failed",
       "Tunnel service install failed (helper exit code 7)"},
      {kBadArgs, "bad_args", "connect expects a non-empty 'config'"},
      {kBusy, "busy", "Another tunnel operation is in progress"},
      {kThreadFailed, "thread_failed", "Could not start the tunnel operation"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.entry.code, row.code);
    EXPECT_EQ(MessageOf(row.entry, 7), row.message);
  }
  // Every entry an operation can leave is among the rows above.
  EXPECT_EQ(std::size(kOperationErrors) + 3, std::size(rows));
  // A crash status of the elevated copy reads unsigned.
  EXPECT_EQ(MessageOf(kInstallHelperFailed, 0xC0000005u),
            "Tunnel service install failed (helper exit code 3221225477)");
}

}  // namespace
}  // namespace tunnel_control::testing
