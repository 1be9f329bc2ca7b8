// The "/service" mode against the simulated platform with a fake tunnel
// library.
#include "app/tunnel_control/service_host/service_host.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/tunnel_control/support/simulated_test.h"

namespace tunnel_control {
namespace {

using testing::SimulatedPlatform;

constexpr wchar_t kLibrary[] = L"C:\\Program Files\\Varn VPN\\tunnel.dll";
constexpr wchar_t kConfig[] = L"C:\\Tunnel\\c.conf";

// What the fake export saw, and what it answers.
std::wstring received_path;
int calls = 0;
BOOL answer = TRUE;

BOOL WINAPI FakeTunnelService(LPCWSTR config_path) {
  ++calls;
  received_path = config_path;
  return answer;
}

class ServiceHostTest : public testing::SimulatedTest {
 protected:
  void SetUp() override {
    sim_.AddDirectory(L"C:\\Tunnel");
    received_path.clear();
    calls = 0;
    answer = TRUE;
  }
  void AddTunnelLibrary(const std::wstring& path) {
    SimulatedPlatform::Library library;
    library.exports["WireGuardTunnelService"] =
        reinterpret_cast<FARPROC>(&FakeTunnelService);
    sim_.AddLibrary(path, library);
  }
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
  sim_.AddDirectory(L"D:\\caf\u00e9");
  const std::wstring path = L"D:\\caf\u00e9\\does not exist.conf";
  EXPECT_EQ(RunServiceMode(path), 0);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(received_path, path);
  EXPECT_EQ(sim_.CallsTo("LoadLibraryExW"),
            std::vector<std::string>{
                "LoadLibraryExW(\"C:\\Program Files\\Varn VPN\\tunnel.dll\", "
                "null, 0x900)"});
  EXPECT_EQ(sim_.CallsTo("GetProcAddress"),
            std::vector<std::string>{"GetProcAddress(WireGuardTunnelService)"});
  // The given path is used as is: the default is not even computed.
  EXPECT_EQ(sim_.CountCalls("SHGetKnownFolderPath"), 0);
}

TEST_F(ServiceHostTest, MissingArgumentUsesTheDefaultConfigFile) {
  AddTunnelLibrary(kLibrary);
  sim_.AddDirectory(L"C:\\ProgramData\\VarnVPN");
  EXPECT_EQ(RunServiceMode(L""), 0);
  EXPECT_EQ(received_path, L"C:\\ProgramData\\VarnVPN\\VarnVPN.conf");
}

TEST_F(ServiceHostTest, LibraryIsLoadedFromTheExecutablesFolder) {
  sim_.SetModulePath(L"E:\\Portable\\Varn\\varn_vpn.exe");
  AddTunnelLibrary(L"E:\\Portable\\Varn\\tunnel.dll");
  EXPECT_EQ(RunServiceMode(kConfig), 0);
  EXPECT_EQ(calls, 1);
}

TEST_F(ServiceHostTest, ZeroFromTheLibraryIsExitCode4) {
  AddTunnelLibrary(kLibrary);
  answer = FALSE;
  EXPECT_EQ(RunServiceMode(kConfig), 4);
  EXPECT_EQ(calls, 1);
}

TEST_F(ServiceHostTest, MissingLibraryOrExportIsExitCode2Or3) {
  EXPECT_EQ(RunServiceMode(kConfig), 2);
  sim_.AddLibrary(kLibrary, SimulatedPlatform::Library{});
  EXPECT_EQ(RunServiceMode(kConfig), 3);
  EXPECT_EQ(calls, 0);
}

// SYSTEM reads the configuration: before anything is loaded, its folder must
// be a real directory at its path and the file, if there, a plain file with
// one name.
TEST(ServiceHostConfigTest, ConfigurationThatIsNotPlainIsRefusedBeforeAnyLoad) {
  struct Case {
    const char* name;
    std::function<void(SimulatedPlatform&)> arrange;
    int expected;
  };
  const Case cases[] = {
      {"plain file", [](auto& sim) { sim.AddFile(kConfig, "x"); }, 0},
      {"missing file", [](auto&) {}, 0},
      {"hard-linked file",
       [](auto& sim) {
         sim.AddFile(L"C:\\Windows\\win.ini", "x");
         sim.AddHardLink(kConfig, L"C:\\Windows\\win.ini");
       },
       5},
      {"a directory", [](auto& sim) { sim.AddDirectory(kConfig); }, 5},
      {"a junction",
       [](auto& sim) {
         sim.AddDirectory(L"C:\\Windows");
         sim.AddJunction(kConfig, L"C:\\Windows");
       },
       5},
      {"folder is a junction",
       [](auto& sim) {
         sim.RemoveNode(L"C:\\Tunnel");
         sim.AddDirectory(L"C:\\Windows").owner = L"SY";
         sim.AddJunction(L"C:\\Tunnel", L"C:\\Windows");
       },
       5},
      {"folder missing", [](auto& sim) { sim.RemoveNode(L"C:\\Tunnel"); }, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedPlatform sim;
    sim.AddDirectory(L"C:\\Tunnel");
    SimulatedPlatform::Library library;
    library.exports["WireGuardTunnelService"] =
        reinterpret_cast<FARPROC>(&FakeTunnelService);
    sim.AddLibrary(kLibrary, library);
    c.arrange(sim);
    EXPECT_EQ(RunServiceMode(kConfig), c.expected);
    EXPECT_EQ(sim.loaded_libraries(), c.expected == 0 ? 1 : 0);
    EXPECT_EQ(RunServiceMode(L"c.conf"), 5) << "a relative path";
    EXPECT_TRUE(sim.AllReleased()) << sim.LeakReport();
  }
}

TEST_F(ServiceHostTest, NoPathIsExitCode1BeforeAnyLoad) {
  AddTunnelLibrary(kLibrary);
  sim_.FailAlways("SHGetKnownFolderPath", ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RunServiceMode(L""), 1);  // no default configuration path

  sim_.ClearFailures();
  sim_.SetModulePath(L"C:\\" + std::wstring(256, L'a') + L".exe");
  EXPECT_EQ(RunServiceMode(kConfig), 1);  // 260 characters

  sim_.SetModulePath(L"varn_vpn.exe");
  EXPECT_EQ(RunServiceMode(kConfig), 1);  // no backslash

  EXPECT_EQ(sim_.CountCalls("LoadLibraryExW"), 0);
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace tunnel_control
