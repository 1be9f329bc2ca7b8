#include "app/tunnel_control/client/elevated_install.h"

#include <gtest/gtest.h>

#include <string>

#include "app/tunnel_control/common/op_error.h"
#include "app/tunnel_control/common/tunnel_facts.h"
#include "tests/tunnel_control/support/outcome_matchers.h"
#include "tests/tunnel_control/support/simulated_test.h"

namespace tunnel_control::testing {
namespace {

class ElevatedInstallTest : public testing::SimulatedTest {
 protected:
  OpError error_;
};

TEST_F(ElevatedInstallTest, CurrentUserSidStringReadsTheTokenUser) {
  sim_.user().sid = L"S-1-5-21-7-8-9-1234";
  EXPECT_EQ(CurrentUserSidString(), L"S-1-5-21-7-8-9-1234");
  EXPECT_EQ(sim_.open_kernel_handles(), 0);  // the token is not kept
}

TEST_F(ElevatedInstallTest, CurrentUserSidStringIsEmptyWhenAnyStepFails) {
  for (const char* function :
       {"OpenProcessToken", "GetTokenInformation", "ConvertSidToStringSidW"}) {
    sim_.FailOnce(function, ERROR_ACCESS_DENIED);
    EXPECT_EQ(CurrentUserSidString(), L"") << function;
  }
}

TEST_F(ElevatedInstallTest, LaunchesRunasWithTheRecordFieldByField) {
  sim_.user().sid = L"S-1-5-21-11-22-33-1001";
  sim_.SetModulePath(L"C:\\Apps\\Varn VPN\\varn_vpn.exe");
  error_ = {"left_over", "from an earlier step"};
  ASSERT_TRUE(RunElevatedInstall(&error_));
  EXPECT_EQ(error_.code, "left_over");  // untouched on success

  ASSERT_EQ(sim_.shell_executions().size(), 1u);
  const SimulatedPlatform::ShellExecuteRecord& record =
      sim_.shell_executions()[0];
  // The size of the record as this build lays it out (the product pins it).
  EXPECT_EQ(record.cb_size, sizeof(SHELLEXECUTEINFOW));
  // A process handle to wait on, and no console of its own.
  EXPECT_EQ(record.mask,
            static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NO_CONSOLE));
  EXPECT_EQ(record.window, nullptr);
  EXPECT_EQ(record.verb, L"runas");
  EXPECT_EQ(record.file, L"C:\\Apps\\Varn VPN\\varn_vpn.exe");
  // One space, after the switch; the SID is not quoted.
  EXPECT_EQ(record.parameters, L"/tunnel-install S-1-5-21-11-22-33-1001");
  EXPECT_EQ(record.directory, std::nullopt);
  EXPECT_EQ(record.show, SW_HIDE);
  EXPECT_TRUE(record.other_fields_zero);
}

TEST_F(ElevatedInstallTest, WaitsUpTo120sAndShowsStillActive) {
  sim_.elevation().finishes = false;
  const uint64_t start = sim_.now();
  EXPECT_FALSE(RunElevatedInstall(&error_));
  EXPECT_TRUE(ErrorIs(error_, kInstallHelperFailed, 259));
  EXPECT_EQ(sim_.now() - start, 120'000u);
}

TEST_F(ElevatedInstallTest, SlowInstallerWithinTheLimitSucceeds) {
  sim_.elevation().run_ms = 90'000;
  EXPECT_TRUE(RunElevatedInstall(&error_));
}

TEST_F(ElevatedInstallTest, MissingSidOrPathLaunchesNothing) {
  sim_.FailOnce("OpenProcessToken", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(RunElevatedInstall(&error_));
  EXPECT_TRUE(ErrorIs(error_, kInstallUnresolved));

  error_ = {};
  sim_.FailOnce("GetModuleFileNameW", ERROR_INSUFFICIENT_BUFFER);
  EXPECT_FALSE(RunElevatedInstall(&error_));
  EXPECT_TRUE(ErrorIs(error_, kInstallUnresolved));

  EXPECT_TRUE(sim_.shell_executions().empty());  // no prompt
}

TEST_F(ElevatedInstallTest, PathOf260CharactersIsRefused) {
  const std::wstring prefix = L"C:\\";
  const std::wstring suffix = L"\\varn_vpn.exe";
  const std::wstring at_limit =
      prefix + std::wstring(260 - prefix.size() - suffix.size(), L'd') + suffix;
  ASSERT_EQ(at_limit.size(), 260u);
  sim_.SetModulePath(at_limit);
  EXPECT_FALSE(RunElevatedInstall(&error_));
  EXPECT_TRUE(ErrorIs(error_, kInstallUnresolved));
  EXPECT_TRUE(sim_.shell_executions().empty());  // no prompt

  sim_.SetModulePath(at_limit.substr(1));  // 259 characters still fit
  EXPECT_TRUE(RunElevatedInstall(&error_));
}

class LaunchFailureTest : public ElevatedInstallTest,
                          public ::testing::WithParamInterface<DWORD> {};

TEST_P(LaunchFailureTest, NamesTheErrorNumber) {
  sim_.elevation().launch_error = GetParam();
  EXPECT_FALSE(RunElevatedInstall(&error_));
  EXPECT_TRUE(ErrorIs(
      error_,
      GetParam() == ERROR_CANCELLED ? kElevationDeclined : kInstallLaunchFailed,
      GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Codes, LaunchFailureTest,
                         ::testing::Values(ERROR_CANCELLED,
                                           ERROR_FILE_NOT_FOUND,
                                           ERROR_ACCESS_DENIED,
                                           ERROR_NO_ASSOCIATION,
                                           ERROR_NOT_ENOUGH_MEMORY));

TEST_F(ElevatedInstallTest, NoProcessHandleShowsThePresetExitCode) {
  sim_.elevation().return_process_handle = false;
  sim_.elevation().finishes = false;  // any wait would last its full 120 s
  const uint64_t start = sim_.now();
  EXPECT_FALSE(RunElevatedInstall(&error_));
  EXPECT_TRUE(ErrorIs(error_, kInstallHelperFailed, 1));
  EXPECT_EQ(sim_.now(), start);  // nothing to wait for
}

TEST_F(ElevatedInstallTest, UnreadableExitCodeShowsThePresetExitCode) {
  sim_.elevation().run = [](const auto&) -> DWORD { return 0; };
  sim_.FailOnce("GetExitCodeProcess", ERROR_INVALID_HANDLE);
  EXPECT_FALSE(RunElevatedInstall(&error_));
  EXPECT_TRUE(ErrorIs(error_, kInstallHelperFailed, 1));
}

TEST_F(ElevatedInstallTest, ExitCodesAreShownInUnsignedDecimal) {
  for (DWORD code : {10u, 18u, 20u, 0xC0000005u}) {
    sim_.elevation().run = [code](const auto&) { return code; };
    EXPECT_FALSE(RunElevatedInstall(&error_));
    EXPECT_TRUE(ErrorIs(error_, kInstallHelperFailed, code));
  }
}

TEST_F(ElevatedInstallTest, TheCopyRunsElevatedWithTheCallersSid) {
  sim_.user().sid = L"S-1-5-21-4-5-6-2002";
  std::wstring seen_parameters;
  bool was_elevated = false;
  sim_.elevation().run = [&](const SimulatedPlatform::ShellExecuteRecord& r) {
    seen_parameters = r.parameters.value_or(L"");
    was_elevated = sim_.user().elevated;
    return DWORD{0};
  };
  EXPECT_TRUE(RunElevatedInstall(&error_));
  EXPECT_TRUE(was_elevated);
  EXPECT_EQ(seen_parameters, InstallArguments(L"S-1-5-21-4-5-6-2002"));
}

}  // namespace
}  // namespace tunnel_control::testing
