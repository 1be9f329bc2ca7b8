// The /tunnel-install and /tunnel-uninstall modes under Wine's real service
// manager and file system, run as child processes of copies of varn_vpn.exe.
// Owners, DACLs and a successful install are left to the simulated tests:
// Wine keeps no file DACLs and reports every file as the user's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/tunnel_control/common/tunnel_facts.h"
#include "tests/tunnel_control/wine/wine_test_support.h"

namespace tunnel_control::testing {
namespace {

constexpr wchar_t kServiceName[] = L"WireGuardTunnel$VarnVPN";
constexpr wchar_t kUserSid[] = L"S-1-5-21-1-2-3-1001";

// Wine reports every file, even in the system folders, as owned by the
// logged-in user with full access for that user. So the installer refuses
// every location with 21, as Windows does for a folder users can change;
// the tests below that need a service provision it directly.
constexpr DWORD kInstallRefusedUnderWine = 21;

// The binary path the service manager holds for `service`.
std::optional<std::wstring> BinaryPath(SC_HANDLE service) {
  DWORD needed = 0;
  ::QueryServiceConfigW(service, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (needed == 0 || !::QueryServiceConfigW(service, config, needed, &needed)) {
    return std::nullopt;
  }
  return std::wstring(config->lpBinaryPathName ? config->lpBinaryPathName
                                               : L"");
}

class InstallModeWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ProgramDataFolder().empty());
    RemoveLeftovers();
  }
  void TearDown() override { RemoveLeftovers(); }

  void RemoveLeftovers() {
    RemoveService(kServiceName);
    RemoveFolder(DataDirectory());
  }

  static std::wstring DataDirectory() {
    return ProgramDataFolder() + L"\\VarnVPN";
  }
  static std::wstring ConfigFile() {
    return DataDirectory() + L"\\VarnVPN.conf";
  }

  // Places varn_vpn.exe, its libraries and the stand-in tunnel library in
  // `folder`.
  static std::wstring PlaceApp(const TempFolder& folder) {
    const std::wstring exe = tunnel_control::testing::PlaceApp(folder.path());
    EXPECT_FALSE(exe.empty()) << "varn_vpn.exe must be built";
    EXPECT_EQ(
        CopyOver(BinFolder() + L"\\tunnel.dll", folder.File(L"tunnel.dll")),
        0u);
    return exe;
  }

  static std::optional<DWORD> Install(const std::wstring& exe,
                                      const std::wstring& sid_arguments) {
    return RunProgram(exe, InstallArguments(sid_arguments));
  }
  static std::optional<DWORD> Uninstall(const std::wstring& exe) {
    return RunProgram(exe, std::wstring(kUninstallSwitch));
  }

  // The directory and the service as the installer leaves them, made
  // through the service manager directly.
  static void ProvisionService(const std::wstring& exe) {
    const Provisioned provisioned = tunnel_control::testing::ProvisionService(
        TunnelServiceDefinition(exe, ConfigFile(), kUserSid));
    ASSERT_TRUE(provisioned) << provisioned.failure;
  }

  static ScopedScHandle OpenTunnelService() {
    ScopedScHandle manager = OpenManager();
    return ScopedScHandle(
        ::OpenServiceW(manager.Get(), kServiceName, SERVICE_ALL_ACCESS));
  }

  // Returns true once the service is gone; deletion can lag its request.
  static bool ServiceGone() {
    for (int i = 0; i < 100; ++i) {
      ScopedScHandle service = OpenTunnelService();
      if (!service && ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
        return true;
      }
      ::Sleep(50);
    }
    return false;
  }

  TempFolder folder_;
};

TEST_F(InstallModeWineTest, BadSidExitsTenAndCreatesNothing) {
  const std::wstring exe = PlaceApp(folder_);
  for (const std::wstring arguments :
       {L"", L"\"\"", L"not-a-sid", L"S-1-5-21-1-2-x", L"S-1"}) {
    SCOPED_TRACE(Utf8(L"arguments: " + arguments));
    EXPECT_EQ(Install(exe, arguments), 10u);
    EXPECT_FALSE(FileExists(DataDirectory()));
    EXPECT_TRUE(ServiceGone());
  }
}

// Wine's own SID parser takes aliases and loose forms; the installer takes
// one user's account in canonical form only.
TEST_F(InstallModeWineTest, SidOfNoSingleUserExitsTenAndCreatesNothing) {
  const std::wstring exe = PlaceApp(folder_);
  for (const std::wstring arguments :
       {L"WD", L"BU", L"AU", L"S-1-1-0", L"S-1-5-32-544", L"S-1-5-18",
        L"s-1-5-21-1-2-3-1001", L"\" S-1-5-21-1-2-3-1001\"",
        L"S-1-5-21-1-2-3-01001", L"S-1-5-21-1-2-3-513"}) {
    SCOPED_TRACE(Utf8(L"arguments: " + arguments));
    EXPECT_EQ(Install(exe, arguments), 10u);
    EXPECT_FALSE(FileExists(DataDirectory()));
    EXPECT_TRUE(ServiceGone());
  }
}

TEST_F(InstallModeWineTest, UnprotectedLocationExits21AndChangesNothing) {
  const std::wstring exe = PlaceApp(folder_);
  EXPECT_EQ(Install(exe, kUserSid), kInstallRefusedUnderWine);
  EXPECT_FALSE(FileExists(DataDirectory()));
  EXPECT_TRUE(ServiceGone());

  // An existing service keeps its definition.
  ProvisionService(L"C:\\old\\varn_vpn.exe");
  EXPECT_EQ(Install(exe, kUserSid), kInstallRefusedUnderWine);
  ScopedScHandle service = OpenTunnelService();
  ASSERT_TRUE(service);
  EXPECT_EQ(BinaryPath(service.Get()),
            ServiceCommandLine(L"C:\\old\\varn_vpn.exe", ConfigFile()));
}

// Both modes run elevated: libraries planted in the exe's folder under the
// names of ones the windowed application uses must stay unloaded.
TEST_F(InstallModeWineTest, PrivilegedModesLoadNoPlantedLibrary) {
  const std::wstring exe = PlaceApp(folder_);
  ASSERT_TRUE(PlantLibraries(folder_.path()));
  EXPECT_EQ(Install(exe, kUserSid), kInstallRefusedUnderWine);
  EXPECT_EQ(Uninstall(exe), 0u);
  EXPECT_EQ(LoadedPlantedLibraries(folder_.path()),
            std::vector<std::wstring>{});
}

TEST_F(InstallModeWineTest, UninstallRemovesTheServiceAndTheConfig) {
  const std::wstring exe = PlaceApp(folder_);
  ProvisionService(exe);
  ASSERT_TRUE(WriteTextFile(ConfigFile(), ValidConfig()));

  EXPECT_EQ(Uninstall(exe), 0u);
  EXPECT_TRUE(ServiceGone());
  EXPECT_FALSE(FileExists(ConfigFile()));
  EXPECT_TRUE(FileExists(DataDirectory())) << "the directory stays";
}

TEST_F(InstallModeWineTest, UninstallWithoutServiceExitsZeroAndDeletesConfig) {
  const std::wstring exe = PlaceApp(folder_);
  ASSERT_TRUE(::CreateDirectoryW(DataDirectory().c_str(), nullptr));
  ASSERT_TRUE(WriteTextFile(ConfigFile(), ValidConfig()));

  EXPECT_EQ(Uninstall(exe), 0u);
  EXPECT_FALSE(FileExists(ConfigFile()));
  EXPECT_EQ(Uninstall(exe), 0u) << "nothing left to remove is still success";
}

// Anyone may hold a handle to the service (interactive users may open it
// for reading): the service then stays marked for deletion until it closes,
// and removal counts that as done, however often it runs.
TEST_F(InstallModeWineTest,
       UninstallSucceedsWhileAHandleKeepsTheServiceMarked) {
  const std::wstring exe = PlaceApp(folder_);
  ProvisionService(exe);
  ScopedScHandle held = OpenTunnelService();
  ASSERT_TRUE(held);

  EXPECT_EQ(Uninstall(exe), 0u);
  EXPECT_EQ(Uninstall(exe), 0u);
  // A deleted service starts no more from a handle opened before.
  EXPECT_FALSE(::StartServiceW(held.Get(), 0, nullptr));
  held.Reset();
  EXPECT_TRUE(ServiceGone());
}

TEST_F(InstallModeWineTest, InstalledServiceRunsTheTunnelUntilUninstall) {
  const std::wstring exe = PlaceApp(folder_);
  ProvisionService(exe);
  // A slow stop: uninstall must wait for it and still delete the service,
  // and the configuration, which the running tunnel holds open.
  ASSERT_TRUE(WriteTextFile(
      ConfigFile(), ValidConfig("[StandIn]\r\nStopDelayMs = 1500\r\n")));

  ScopedProcess process;
  {
    ScopedScHandle service = OpenTunnelService();
    ASSERT_TRUE(service);
    ASSERT_EQ(StartWarm(service.Get()), 0u);
    const StateTrace started =
        WaitForState(service.Get(), SERVICE_RUNNING, 15000);
    ASSERT_TRUE(started.reached)
        << "last state " << started.last.dwCurrentState;
    process = ScopedProcess(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                      started.last.dwProcessId));
    ASSERT_TRUE(process);
  }

  EXPECT_EQ(Uninstall(exe), 0u);
  EXPECT_TRUE(ServiceGone());
  EXPECT_FALSE(FileExists(ConfigFile()));
  ASSERT_EQ(::WaitForSingleObject(process.Get(), 10000),
            static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD exit_code = 1;
  ASSERT_TRUE(::GetExitCodeProcess(process.Get(), &exit_code));
  EXPECT_EQ(exit_code, 0u) << "the tunnel stopped on request";
  const std::string log =
      ReadTextFile(DataDirectory() + L"\\log.bin").value_or("");
  EXPECT_NE(log.find("holding stop-pending for 1500 ms"), std::string::npos)
      << log;
  EXPECT_NE(log.find("tunnel stopped"), std::string::npos) << log;
}

}  // namespace
}  // namespace tunnel_control::testing
