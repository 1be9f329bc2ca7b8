// The package's steps as SYSTEM on the simulated platform: the grant at
// install (named user, console user, refusals), the tunnel's state across an
// upgrade, and the removal of the tunnel's data that only takes what SYSTEM
// or the Administrators own and follows no link.
#include "app/tunnel_control/installer/package_steps.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/tunnel_control/installer/data_directory.h"
#include "app/tunnel_control/installer/service_installer.h"
#include "tests/tunnel_control/support/simulated_test.h"

namespace tunnel_control::testing {
namespace {

constexpr wchar_t kServiceName[] = L"WireGuardTunnel$VarnVPN";
constexpr wchar_t kInstallDir[] = L"C:\\Program Files\\Varn VPN\\";
constexpr wchar_t kMsiexec[] = L"C:\\Windows\\System32\\msiexec.exe";
// SYSTEM's token holds the Administrators group.
const SimulatedPlatform::User kSystem{L"S-1-5-18", true, true};

class PackageStepsTest : public testing::SimulatedTest {
 protected:
  void SetUp() override {
    sim_.user() = kSystem;
    // The installed executable exists; the process is msiexec.
    sim_.SetModulePath(std::wstring(kInstallDir) + L"varn_vpn.exe");
    sim_.SetModulePath(kMsiexec);
  }
  // The user the service grants its start and stop to, or "" without one.
  std::wstring GrantedUser() {
    const SimulatedPlatform::Service* service = sim_.FindService(kServiceName);
    if (service == nullptr) return L"";
    const size_t last = service->sddl.rfind(L";;;");
    return service->sddl.substr(last + 3, service->sddl.size() - last - 4);
  }
};

TEST_F(PackageStepsTest, GrantsTheNamedOrConsoleUserOrFailsWithTheReason) {
  const std::wstring folder = kInstallDir;
  struct Row {
    std::wstring data;
    std::optional<std::wstring> console_user;
    DWORD console_session;
    bool granted;
    std::wstring user_or_log;  // the granted user, or part of the log line
  };
  const Row rows[] = {
      {kUserA + (L"|" + folder), kUserB, 1, true, kUserA},
      {L"*|" + folder, kUserB, 1, true, kUserB},
      // The folder without its trailing separator, as a property may be.
      {L"*|C:\\Program Files\\Varn VPN", kUserB, 1, true, kUserB},
      {L"*|" + folder, std::nullopt, 1, false, L"nobody is signed in"},
      {L"*|" + folder, kUserB, 0xFFFFFFFF, false, L"no session is attached"},
      {L"S-1-1-0|" + folder, kUserB, 1, false, L"exit code 10"},
      {L"S-1-5-21-1-2-3-512|" + folder, kUserB, 1, false, L"exit code 10"},
      {L"nobody|" + folder, kUserB, 1, false, L"exit code 10"},
      {L"S-1-5-21-1-2;x|" + folder, kUserB, 1, false, L"exit code 10"},
      // The location check applies to the given executable, not msiexec.
      {kUserA + std::wstring(L"|C:\\Users\\Public\\Varn\\"), kUserB, 1, false,
       L"exit code 21"},
      {kUserA, kUserB, 1, false, L"no install folder"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Narrow(row.data));
    sim_.console_user = row.console_user;
    sim_.console_session = row.console_session;
    const StepResult result = GrantTunnel(row.data);
    EXPECT_EQ(result.succeeded, row.granted) << testing::Narrow(result.log);
    if (row.granted) {
      EXPECT_EQ(GrantedUser(), row.user_or_log);
      EXPECT_EQ(sim_.FindService(kServiceName)->binary_path,
                ServiceCommandLine(folder + L"varn_vpn.exe", kConfigPath));
      EXPECT_EQ(RunUninstallMode(), kUninstallSucceeded);
    } else {
      EXPECT_NE(result.log.find(row.user_or_log), std::wstring::npos)
          << testing::Narrow(result.log);
      EXPECT_EQ(sim_.FindService(kServiceName), nullptr);
    }
  }
}

// A grant can fail after it created the service (here where Wine fails,
// the service SID type): the rollback's uninstall leaves none behind.
TEST_F(PackageStepsTest, ALateGrantFailureLeavesWhatTheRollbackRemoves) {
  sim_.FailOnce("ChangeServiceConfig2W", ERROR_INVALID_LEVEL);
  const StepResult result =
      GrantTunnel(kUserA + (L"|" + std::wstring(kInstallDir)));
  EXPECT_FALSE(result.succeeded);
  EXPECT_NE(result.log.find(L"exit code 18"), std::wstring::npos);
  EXPECT_NE(sim_.FindService(kServiceName), nullptr);
  EXPECT_EQ(RunUninstallMode(), kUninstallSucceeded);
  EXPECT_EQ(sim_.FindService(kServiceName), nullptr);
}

// Only SYSTEM may take the console user's token: run elevated but not as
// SYSTEM, "*" fails instead of granting the installing administrator.
TEST_F(PackageStepsTest, ConsoleUserNeedsSystem) {
  sim_.user() = {L"S-1-5-21-9-9-9-500", true, false};
  sim_.console_user = kUserB;
  const StepResult result = ConsoleUserSid();
  EXPECT_FALSE(result.succeeded);
  EXPECT_NE(result.log.find(L"error 1314"), std::wstring::npos);
}

TEST_F(PackageStepsTest, RecordsTheTunnelStateAndStartsItAgain) {
  EXPECT_EQ(QueryTunnelState(), TunnelState::kAbsent);
  EXPECT_FALSE(StartTunnel().succeeded);
  SimulatedPlatform::Service& service = sim_.AddService(kServiceName);
  const struct {
    DWORD state;
    TunnelState recorded;
  } rows[] = {{SERVICE_STOPPED, TunnelState::kStopped},
              {SERVICE_STOP_PENDING, TunnelState::kStopped},
              {SERVICE_START_PENDING, TunnelState::kRunning},
              {SERVICE_RUNNING, TunnelState::kRunning}};
  for (const auto& row : rows) {
    service.state = row.state;
    EXPECT_EQ(QueryTunnelState(), row.recorded) << row.state;
  }
  sim_.FailOnce("OpenServiceW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(QueryTunnelState(), TunnelState::kUnknown);

  service.state = SERVICE_STOPPED;
  EXPECT_TRUE(StartTunnel().succeeded);
  EXPECT_EQ(service.state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_TRUE(StartTunnel().succeeded);  // already running: nothing to do
  EXPECT_EQ(service.start_count, 1);
  service.state = SERVICE_STOPPED;
  service.start_error = ERROR_SERVICE_DISABLED;
  const StepResult failed = StartTunnel();
  EXPECT_FALSE(failed.succeeded);
  EXPECT_NE(failed.log.find(L"error 1058"), std::wstring::npos);
}

// The data directory as an install left it, two aside folders of ours, one
// a user made first, and links that lead out: only what SYSTEM or the
// Administrators own goes, and nothing outside is touched.
TEST_F(PackageStepsTest, RemovesOnlyTheInstallersFoldersAndFollowsNoLink) {
  const std::wstring data = kDataDirectory;
  const std::wstring ours = data + L".old-00aa";
  const std::wstring nested = data + L".old-11bb";
  const std::wstring squatted = data + L".old-22cc";
  const std::wstring linked = data + L".old-33dd";
  const std::wstring outside = L"C:\\Important";
  const SimulatedPlatform::User a{kUserA, false, false};
  const SimulatedPlatform::User b{kUserB, false, false};

  sim_.AddDirectory(outside).owner = L"BA";
  sim_.AddFile(outside + L"\\secret.txt", "keep me").owner = L"BA";
  sim_.RunAs({L"S-1-5-21-9-9-9-500", true, false}, [&] {
    ASSERT_EQ(
        RunInstallModeFor(kUserA, std::wstring(kInstallDir) + L"varn_vpn.exe"),
        kInstallSucceeded);
  });
  sim_.RunAs(a, [&] {
    ASSERT_EQ(sim_.WriteContents(kConfigPath, "[Interface]"), 0u);
  });
  // A hard link an older layout let in, and an old directory of ours with a
  // user's junction to the outside folder inside it.
  sim_.AddHardLink(data + L"\\linked.txt", outside + L"\\secret.txt");
  for (const std::wstring& folder : {ours, nested}) {
    SimulatedPlatform::Node& node = sim_.AddDirectory(folder);
    node.owner = L"BA";
    node.dacl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" +
                std::wstring(kUserA) + L")";
  }
  sim_.AddFile(ours + L"\\log.bin", "old log").owner = L"SY";
  // A previous user's key that shuts the administrators out still goes.
  SimulatedPlatform::Node& key = sim_.AddFile(ours + L"\\VarnVPN.conf", "k");
  key.owner = kUserA;
  key.dacl = L"D:P(A;;FA;;;" + std::wstring(kUserA) + L")";
  sim_.AddDirectory(nested + L"\\sub").owner = kUserA;
  sim_.AddFile(nested + L"\\sub\\notes.txt", "notes").owner = kUserA;
  sim_.AddJunction(nested + L"\\sub\\out", outside).owner = kUserA;
  const std::wstring closed = data + L".old-44ee";
  sim_.RunAs(b, [&] {
    ASSERT_TRUE(Os().CreateDirectoryW(squatted.c_str(), nullptr));
    ASSERT_EQ(sim_.WriteContents(squatted + L"\\mine.txt", "b's"), 0u);
    ASSERT_EQ(sim_.MakeJunction(linked, outside), 0u);
    ASSERT_TRUE(Os().CreateDirectoryW(closed.c_str(), nullptr));
    ASSERT_EQ(
        sim_.SetDacl(closed, L"D:P(A;OICI;FA;;;" + std::wstring(kUserB) + L")"),
        0u);
  });
  sim_.AddDirectory(L"C:\\ProgramData\\VarnVPN.older").owner = L"BA";

  const std::vector<RemovedFolder> removed = RemoveDataDirectories();
  std::vector<std::wstring> outcomes;
  for (const RemovedFolder& folder : removed) {
    outcomes.push_back(folder.path + L" " +
                       std::to_wstring(static_cast<int>(folder.outcome)) +
                       L" " + folder.owner);
  }
  const auto line = [](const std::wstring& path, FolderRemoval outcome,
                       const std::wstring& owner = L"") {
    return path + L" " + std::to_wstring(static_cast<int>(outcome)) + L" " +
           owner;
  };
  EXPECT_EQ(outcomes, (std::vector<std::wstring>{
                          line(data, FolderRemoval::kRemoved),
                          line(ours, FolderRemoval::kRemoved),
                          line(nested, FolderRemoval::kRemoved),
                          line(squatted, FolderRemoval::kNotOurs, kUserB),
                          line(linked, FolderRemoval::kNotFolder),
                          line(closed, FolderRemoval::kBusy)}));
  EXPECT_EQ(sim_.Children(L"C:\\ProgramData"),
            (std::vector<std::wstring>{L"varnvpn.old-22cc", L"varnvpn.old-33dd",
                                       L"varnvpn.old-44ee", L"varnvpn.older"}));
  EXPECT_EQ(sim_.FileContents(squatted + L"\\mine.txt"), "b's");
  EXPECT_EQ(sim_.FileContents(outside + L"\\secret.txt"), "keep me");
  EXPECT_EQ(sim_.LinkCount(outside + L"\\secret.txt"), 1);

  const std::vector<std::wstring> log = RemoveTunnelData();
  EXPECT_EQ(log.size(), 3u);
  EXPECT_NE(log[0].find(L"owned by " + std::wstring(kUserB)),
            std::wstring::npos);
}

// The granted user acts at every call of the removal: adds files, hard
// links to a file outside, and junctions named like aside folders. Nothing
// but the tunnel's own folders sees a privileged change, and the outside
// file keeps its contents.
TEST_F(PackageStepsTest, RemovalResistsTheGrantedUserAtEveryCall) {
  const std::wstring data = kDataDirectory;
  const std::wstring outside = L"C:\\Important";
  const std::wstring secret = outside + L"\\secret.txt";
  sim_.AddDirectory(outside).owner = L"BA";
  SimulatedPlatform::Node& file = sim_.AddFile(secret, "keep me");
  file.owner = L"BA";
  // The worst case: the user may write the file's attributes, which is
  // what a hard link to it takes.
  file.dacl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x120189;;;" +
              std::wstring(kUserA) + L")";
  sim_.RunAs({L"S-1-5-21-9-9-9-500", true, false}, [&] {
    RunInstallModeFor(kUserA, std::wstring(kInstallDir) + L"varn_vpn.exe");
  });
  sim_.RunAs({kUserA, false, false},
             [&] { sim_.WriteContents(kConfigPath, "[Interface]"); });
  int call = 0;
  sim_.before_call = [&](const std::string&) {
    const std::wstring n = std::to_wstring(++call);
    sim_.RunAs({kUserA, false, false}, [&] {
      sim_.WriteContents(data + L"\\late" + n + L".txt", "x");
      sim_.MakeHardLink(data + L"\\link" + n, secret);
      sim_.MakeJunction(data + L".old-" + n, outside);
    });
  };
  const std::vector<RemovedFolder> removed = RemoveDataDirectories();
  sim_.before_call = nullptr;
  EXPECT_GT(call, 10);
  EXPECT_FALSE(removed.empty());
  EXPECT_EQ(sim_.FileContents(secret), "keep me");
  for (const std::wstring& changed : sim_.privileged_changes()) {
    EXPECT_EQ(changed.rfind(data, 0), 0u) << testing::Narrow(changed);
  }
}

// A program that holds a file of the data directory open without delete
// sharing keeps the directory, and the log says why.
TEST_F(PackageStepsTest, AFolderThatCannotBeEmptiedStays) {
  sim_.RunAs({L"S-1-5-21-9-9-9-500", true, false}, [&] {
    RunInstallModeFor(kUserA, std::wstring(kInstallDir) + L"varn_vpn.exe");
  });
  HANDLE held = INVALID_HANDLE_VALUE;
  sim_.RunAs({kUserA, false, false}, [&] {
    sim_.WriteContents(kConfigPath, "[Interface]");
    held = sim_.OpenForeign(kConfigPath, FILE_READ_DATA, FILE_SHARE_READ);
  });
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const std::vector<std::wstring> log = RemoveTunnelData();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find(L"could not be removed"), std::wstring::npos);
  EXPECT_NE(sim_.FindNode(kDataDirectory), nullptr);
  sim_.CloseForeign(held);
  EXPECT_EQ(RemoveTunnelData(),
            std::vector<std::wstring>{
                L"REMOVEDATA: " + std::wstring(kDataDirectory) + L" removed"});
  EXPECT_EQ(RemoveTunnelData(),
            std::vector<std::wstring>{L"REMOVEDATA: no tunnel data to remove"});
}

}  // namespace
}  // namespace tunnel_control::testing
