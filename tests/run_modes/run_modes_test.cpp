// Mode selection for every row of the switch table, and the dispatch of the
// one-shot modes with their exact wide argument (on the simulated platform).
#include "app/run_modes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tunnel_control/support/simulated_platform.h"

namespace flutter::testing {
namespace {

using tunnel_control::testing::SimulatedPlatform;
using Arguments = std::vector<std::string>;

TEST(SelectRunModeTest, SwitchesInFirstPositionSelectTheirMode) {
  EXPECT_EQ(SelectRunMode({"/service", "C:\\a.conf"}).mode, RunMode::kService);
  EXPECT_EQ(SelectRunMode({"/tunnel-install", "S-1-5-18"}).mode,
            RunMode::kInstall);
  EXPECT_EQ(SelectRunMode({"/tunnel-uninstall"}).mode, RunMode::kUninstall);
}

TEST(SelectRunModeTest, SecondArgumentIsConvertedOrEmpty) {
  RunModeSelection service = SelectRunMode({"/service"});
  EXPECT_EQ(service.mode, RunMode::kService);
  EXPECT_EQ(service.argument, L"");

  service = SelectRunMode({"/service", "C:\\a b\\x.conf", "C:\\other.conf"});
  EXPECT_EQ(service.argument, L"C:\\a b\\x.conf");

  service = SelectRunMode({"/service",
                           "C:\\Donn\xC3\xA9"
                           "es\\x.conf"});
  EXPECT_EQ(service.argument, L"C:\\Donn\u00e9es\\x.conf");

  service = SelectRunMode({"/service", "bad\xFF"});
  EXPECT_EQ(service.mode, RunMode::kService);
  EXPECT_EQ(service.argument, L"");

  const RunModeSelection install =
      SelectRunMode({"/tunnel-install", "S-1-5-21-1-2-3-1001"});
  EXPECT_EQ(install.argument, L"S-1-5-21-1-2-3-1001");
  EXPECT_EQ(SelectRunMode({"/tunnel-install"}).argument, L"");

  const RunModeSelection uninstall =
      SelectRunMode({"/tunnel-uninstall", "S-1-5-18", "more"});
  EXPECT_EQ(uninstall.mode, RunMode::kUninstall);
  EXPECT_EQ(uninstall.argument, L"");
}

TEST(SelectRunModeTest, AnythingElseIsTheWindowedApplication) {
  const Arguments windowed[] = {
      {},
      {""},
      {"/Service"},
      {"/SERVICE", "x"},
      {"/service "},
      {"/servicex"},
      {"/servic"},
      {"service"},
      {"-service"},
      {"/tunnel-install2", "S-1-5-18"},
      {"/Tunnel-Install"},
      {"/tunnel-uninstal"},
      {"/tunnel-uninstallx"},
      {"/tunnel"},
      {std::string("/service\0", 9)},
      {"--verbose", "/service", "C:\\a.conf"},
      {"x", "/tunnel-uninstall"},
  };
  for (const Arguments& arguments : windowed) {
    SCOPED_TRACE(arguments.empty() ? std::string("(none)") : arguments[0]);
    const RunModeSelection selection = SelectRunMode(arguments);
    EXPECT_EQ(selection.mode, RunMode::kWindowed);
    EXPECT_EQ(selection.argument, L"");
  }
}

// The fake tunnel library's export records the path it is given.
std::wstring service_path;
BOOL WINAPI RecordServicePath(LPCWSTR path) {
  service_path = path;
  return TRUE;
}

class DispatchTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(sim_.AllReleased()) << sim_.LeakReport();
  }
  SimulatedPlatform sim_;
};

TEST_F(DispatchTest, ServiceModeGetsTheSecondArgumentOnly) {
  SimulatedPlatform::Library library;
  library.exports["WireGuardTunnelService"] =
      reinterpret_cast<FARPROC>(&RecordServicePath);
  sim_.AddLibrary(L"C:\\Program Files\\Varn VPN\\tunnel.dll", library);
  sim_.AddDirectory(L"C:\\\u00e9");
  sim_.AddDirectory(L"C:\\ProgramData\\VarnVPN");
  // The host hands on only configurations that exist.
  sim_.AddFile(L"C:\\\u00e9\\a.conf", "x");
  sim_.AddFile(L"C:\\ProgramData\\VarnVPN\\VarnVPN.conf", "x");

  EXPECT_EQ(RunSelectedMode({"/service", "C:\\\xC3\xA9\\a.conf", "C:\\b.conf"}),
            0);
  EXPECT_EQ(service_path, L"C:\\\u00e9\\a.conf");
  EXPECT_EQ(RunSelectedMode({"/service"}), 0);
  EXPECT_EQ(service_path, L"C:\\ProgramData\\VarnVPN\\VarnVPN.conf");
  // A path without a folder cannot be checked before SYSTEM reads it.
  service_path.clear();
  EXPECT_EQ(RunSelectedMode({"/service", "x"}), 5);
  EXPECT_EQ(service_path, L"");
}

TEST_F(DispatchTest, InstallModeGetsTheSidAndReturnsItsExitCode) {
  sim_.user().elevated = true;
  EXPECT_EQ(RunSelectedMode({"/tunnel-install"}), 10);
  EXPECT_EQ(RunSelectedMode({"/tunnel-install", "not a sid"}), 10);
  EXPECT_EQ(RunSelectedMode({"/tunnel-install", "S-1-5-21-7-8-9-1001", "x"}),
            0);
  const SimulatedPlatform::Service* service =
      sim_.FindService(L"WireGuardTunnel$VarnVPN");
  ASSERT_NE(service, nullptr);
  EXPECT_NE(service->sddl.find(L";;;S-1-5-21-7-8-9-1001)"), std::wstring::npos);
}

TEST_F(DispatchTest, UninstallModeIgnoresFurtherArguments) {
  sim_.AddFile(L"C:\\ProgramData\\VarnVPN\\VarnVPN.conf", "x");
  sim_.FailAlways("OpenSCManagerW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(RunSelectedMode({"/tunnel-uninstall", "/service", "y"}), 30);
  EXPECT_EQ(sim_.FindNode(L"C:\\ProgramData\\VarnVPN\\VarnVPN.conf"), nullptr);
}

}  // namespace
}  // namespace flutter::testing
