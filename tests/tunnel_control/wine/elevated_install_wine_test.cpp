// The elevated launch for real: "runas" starts varn_vpn.exe in install mode
// and its exit code comes back.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "app/tunnel_control/client/elevated_install.h"
#include "app/tunnel_control/common/op_error.h"
#include "app/tunnel_control/os/platform.h"
#include "tests/tunnel_control/support/outcome_matchers.h"
#include "tests/tunnel_control/wine/provisioned_service.h"

namespace tunnel_control::testing {
namespace {

// Reports varn_vpn.exe beside this program as the running executable, so
// the launch starts the real application in install mode rather than this
// test program; every other call goes to Windows.
DWORD WINAPI ApplicationModuleFileName(HMODULE module, LPWSTR buffer,
                                       DWORD size) {
  if (module != nullptr) return ::GetModuleFileNameW(module, buffer, size);
  const std::wstring path = BinFolder() + L"\\varn_vpn.exe";
  if (path.size() >= size) return size;
  std::wmemcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

TEST(ElevatedInstallWineTest, CurrentUserSidStringIsTheTokenUsersSid) {
  const std::wstring sid = CurrentUserSidString();
  EXPECT_EQ(sid.rfind(L"S-1-5-", 0), 0u) << sid.size();
  EXPECT_EQ(sid.find(L' '), std::wstring::npos);
}

TEST(ElevatedInstallWineTest, RunasStartsTheInstallModeAndReturnsItsExitCode) {
  ASSERT_EQ(ProvisionTunnelService(), "");
  Platform table = RealPlatform();
  table.GetModuleFileNameW = &ApplicationModuleFileName;
  OpError error;
  bool installed = false;
  {
    ScopedPlatform application(table);
    installed = RunElevatedInstall(&error);
  }
  // Wine reports every file as owned by the logged-in user with full
  // access for that user, so the copy refuses the install location, as
  // Windows does for a folder users can change, and changes nothing.
  EXPECT_FALSE(installed);
  EXPECT_TRUE(ErrorIs(error, kInstallHelperFailed, 21));
  EXPECT_EQ(ServiceDisplayName(), L"Varn VPN Tunnel (provisioned)");

  // Back to the provisioned definition for the tests that follow.
  EXPECT_EQ(ProvisionTunnelService(), "");
}

}  // namespace
}  // namespace tunnel_control::testing
