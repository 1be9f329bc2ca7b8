// Which service DACLs let someone besides SYSTEM, the Administrators and the
// granted user control the tunnel service: such a service is created anew.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "app/tunnel_control/installer/service_installer.h"
#include "app/tunnel_control/os/well_known_sids.h"

namespace tunnel_control::testing {
namespace {

TEST(GrantsOthersControlTest, AnyoneButTheTrustedAndTheUserMoreThanReading) {
  constexpr wchar_t kUser[] = L"S-1-5-21-100-200-300-1001";
  constexpr wchar_t kPrevious[] = L"S-1-5-21-100-200-300-1002";
  constexpr wchar_t kInteractive[] = L"S-1-5-4";
  constexpr BYTE kAllow = ACCESS_ALLOWED_ACE_TYPE;
  constexpr DWORD kRead = SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG |
                          SERVICE_INTERROGATE | SERVICE_ENUMERATE_DEPENDENTS |
                          SERVICE_USER_DEFINED_CONTROL | READ_CONTROL;
  constexpr DWORD kStartStop = SERVICE_START | SERVICE_STOP;
  const std::vector<AccessEntry> usual = {
      {kAllow, 0, SERVICE_ALL_ACCESS, kSystemSid},
      {kAllow, 0, SERVICE_ALL_ACCESS, kAdministratorsSid},
      {kAllow, 0, kRead, kInteractive},
      {kAllow, 0, kRead | kStartStop, kUser}};
  const auto with = [&](AccessEntry entry) {
    std::vector<AccessEntry> dacl = usual;
    dacl.push_back(entry);
    return dacl;
  };
  struct Case {
    const char* name;
    std::optional<std::vector<AccessEntry>> dacl;
    bool grants;
  };
  const Case cases[] = {
      {"no DACL", std::nullopt, true},
      {"ours for the user", usual, false},
      {"empty", std::vector<AccessEntry>{}, false},
      {"previous user starts and stops",
       with({kAllow, 0, kStartStop, kPrevious}), true},
      {"previous user reads", with({kAllow, 0, kRead, kPrevious}), false},
      {"denied, not granted",
       with({ACCESS_DENIED_ACE_TYPE, 0, SERVICE_ALL_ACCESS, kPrevious}), false},
      {"callback entry re-permissions",
       with({ACCESS_ALLOWED_CALLBACK_ACE_TYPE, 0, WRITE_DAC, kPrevious}), true},
      {"object entry of an unread trustee",
       with({ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, GENERIC_ALL, L""}), true},
      {"generic write", with({kAllow, 0, GENERIC_WRITE, kInteractive}), true},
      {"TrustedInstaller is no exception",
       with({kAllow, 0, SERVICE_CHANGE_CONFIG, kTrustedInstallerSid}), true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GrantsOthersControl(c.dacl, kUser), c.grants) << c.name;
  }
}

}  // namespace
}  // namespace tunnel_control::testing
