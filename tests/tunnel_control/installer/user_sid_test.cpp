// Which SID texts have the form of one user's account, by the text alone.
#include "app/tunnel_control/installer/user_sid.h"

#include <gtest/gtest.h>

#include <string>

namespace tunnel_control::testing {
namespace {

TEST(UserSidFormTest, OnlyOneUsersAccountInCanonicalForm) {
  struct Case {
    const char* name;
    std::wstring sid;
    bool user;
  };
  const Case cases[] = {
      {"missing SID", L"", false},
      {"not a SID", L"nobody", false},
      {"SID with text", L"S-1-5-21-1-x", false},
      {"SID with a quote", L"S-1-5-21-1)(A;;GA;;;WD", false},
      // Anything else would hand the tunnel and the key's directory to a
      // group, or read differently once it stands in an SDDL string.
      {"alias for everyone", L"WD", false},
      {"alias for users", L"BU", false},
      {"alias for authenticated users", L"AU", false},
      {"everyone", L"S-1-1-0", false},
      {"administrators", L"S-1-5-32-544", false},
      {"local system", L"S-1-5-18", false},
      {"lower case", L"s-1-5-21-100-200-300-1001", false},
      {"padded", L" S-1-5-21-100-200-300-1001", false},
      {"leading zero", L"S-1-5-21-100-200-300-01001", false},
      {"too few parts", L"S-1-5-21-100-200-1001", false},
      {"domain users group", L"S-1-5-21-100-200-300-513", false},
      {"sub-authority past 32 bits", L"S-1-5-21-100-200-4294967296-1001",
       false},
      {"user account", L"S-1-5-21-100-200-300-1001", true},
      {"built-in administrator account", L"S-1-5-21-100-200-300-500", true},
      {"cloud account", L"S-1-12-1-3263842183-1245520385-2541742265-987654",
       true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HasUserAccountForm(c.sid), c.user) << c.name;
  }
}

}  // namespace
}  // namespace tunnel_control::testing
