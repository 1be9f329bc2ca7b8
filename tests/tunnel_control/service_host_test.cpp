// The "/service" mode against the simulated platform with a fake tunnel
// library.
#include "app/tunnel_control/service_host.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/tunnel_control/simulated_platform.h"

namespace tunnel_control {
namespace {

using testing::SimulatedPlatform;

constexpr wchar_t kLibrary[] = L"C:\\Program Files\\Varn VPN\\tunnel.dll";

// What the fake export saw, and what it answers.
std::wstring received_path;
int calls = 0;
BOOL answer = TRUE;

BOOL WINAPI FakeTunnelService(LPCWSTR config_path) {
  ++calls;
  received_path = config_path;
  return answer;
}

class ServiceHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    received_path.clear();
    calls = 0;
    answer = TRUE;
  }
  void TearDown() override {
    EXPECT_TRUE(sim_.AllReleased()) << sim_.LeakReport();
  }
  void AddTunnelLibrary(const std::wstring& path) {
    SimulatedPlatform::Library library;
    library.exports["WireGuardTunnelService"] =
        reinterpret_cast<FARPROC>(&FakeTunnelService);
    sim_.AddLibrary(path, library);
  }
  SimulatedPlatform sim_;
};

TEST_F(ServiceHostTest, LibraryPathIsBesideTheExecutable) {
  EXPECT_EQ(TunnelLibraryPath(L"C:\\Program Files\\Varn VPN\\varn_vpn.exe"),
            kLibrary);
  EXPECT_EQ(TunnelLibraryPath(L"C:\\varn_vpn.exe"), L"C:\\tunnel.dll");
  EXPECT_EQ(TunnelLibraryPath(L"\\\\server\\share\\a b\\x.exe"),
            L"\\\\server\\share\\a b\\tunnel.dll");
  EXPECT_EQ(TunnelLibraryPath(L"varn_vpn.exe"), L"");
}

TEST_F(ServiceHostTest, HandsTheGivenPathOverUnchanged) {
  AddTunnelLibrary(kLibrary);
  const std::wstring path = L"D:\\does not exist\\caf\u00e9 tunnel.conf";
  EXPECT_EQ(RunServiceMode(path), 0);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(received_path, path);
  EXPECT_EQ(sim_.CallsTo("LoadLibraryExW"),
            std::vector<std::string>{
                "LoadLibraryExW(\"C:\\Program Files\\Varn VPN\\tunnel.dll\", "
                "null, 0x8)"});
  EXPECT_EQ(sim_.CallsTo("GetProcAddress"),
            std::vector<std::string>{"GetProcAddress(WireGuardTunnelService)"});
  // The given path is used as is: the default is not even computed.
  EXPECT_EQ(sim_.CountCalls("SHGetKnownFolderPath"), 0);
}

TEST_F(ServiceHostTest, MissingArgumentUsesTheDefaultConfigFile) {
  AddTunnelLibrary(kLibrary);
  EXPECT_EQ(RunServiceMode(L""), 0);
  EXPECT_EQ(received_path, L"C:\\ProgramData\\VarnVPN\\VarnVPN.conf");
}

TEST_F(ServiceHostTest, LibraryIsLoadedFromTheExecutablesFolder) {
  sim_.SetModulePath(L"E:\\Portable\\Varn\\varn_vpn.exe");
  AddTunnelLibrary(L"E:\\Portable\\Varn\\tunnel.dll");
  EXPECT_EQ(RunServiceMode(L"c.conf"), 0);
  EXPECT_EQ(calls, 1);
}

TEST_F(ServiceHostTest, ZeroFromTheLibraryIsExitCode4) {
  AddTunnelLibrary(kLibrary);
  answer = FALSE;
  EXPECT_EQ(RunServiceMode(L"c.conf"), 4);
  EXPECT_EQ(calls, 1);
}

TEST_F(ServiceHostTest, MissingLibraryOrExportIsExitCode2Or3) {
  EXPECT_EQ(RunServiceMode(L"c.conf"), 2);
  sim_.AddLibrary(kLibrary, SimulatedPlatform::Library{});
  EXPECT_EQ(RunServiceMode(L"c.conf"), 3);
  EXPECT_EQ(calls, 0);
}

TEST_F(ServiceHostTest, NoPathIsExitCode1BeforeAnyLoad) {
  AddTunnelLibrary(kLibrary);
  sim_.FailAlways("SHGetKnownFolderPath", ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RunServiceMode(L""), 1);  // no default configuration path

  sim_.ClearFailures();
  sim_.SetModulePath(L"C:\\" + std::wstring(256, L'a') + L".exe");
  EXPECT_EQ(RunServiceMode(L"c.conf"), 1);  // 260 characters

  sim_.SetModulePath(L"varn_vpn.exe");
  EXPECT_EQ(RunServiceMode(L"c.conf"), 1);  // no backslash

  EXPECT_EQ(sim_.CountCalls("LoadLibraryExW"), 0);
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace tunnel_control
