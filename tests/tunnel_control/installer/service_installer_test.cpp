// The install and uninstall modes against the simulated service manager and
// file system: every exit code from its cause, the exact service definition,
// and no handle or block left behind on any path.
#include "app/tunnel_control/installer/service_installer.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/tunnel_control/installer/data_directory_security.h"
#include "app/tunnel_control/installer/service_definition.h"
#include "tests/tunnel_control/support/service_outcome.h"
#include "tests/tunnel_control/support/simulated_test.h"

namespace tunnel_control::testing {
namespace {

constexpr wchar_t kServiceName[] = L"WireGuardTunnel$VarnVPN";
constexpr wchar_t kBinaryPath[] =
    L"\"C:\\Program Files\\Varn VPN\\varn_vpn.exe\" /service "
    L"\"C:\\ProgramData\\VarnVPN\\VarnVPN.conf\"";

class InstallTest : public testing::SimulatedTest {
 protected:
  void SetUp() override { sim_.user().elevated = true; }
};

TEST(ServiceDefinitionTest, FollowsTheExecutableAndTheUser) {
  const std::wstring dependencies(L"Nsi\0TcpIp\0\0", 11);
  const std::wstring display = L"Varn VPN Tunnel";
  const std::wstring description =
      L"Varn VPN WireGuard tunnel (managed by the Varn VPN app).";
  struct Row {
    std::wstring executable;
    std::wstring user;
    ServiceDefinition definition;
  };
  const Row rows[] = {
      {L"C:\\Program Files\\Varn VPN\\varn_vpn.exe",
       kUserA,
       {kServiceName, display, description, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, kBinaryPath, dependencies,
        SERVICE_SID_TYPE_UNRESTRICTED, ServiceSddl(kUserA)}},
      {L"E:\\Apps\\Varn\\varn_vpn.exe",
       kUserB,
       {kServiceName, display, description, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
        L"\"E:\\Apps\\Varn\\varn_vpn.exe\" /service "
        L"\"C:\\ProgramData\\VarnVPN\\VarnVPN.conf\"",
        dependencies, SERVICE_SID_TYPE_UNRESTRICTED, ServiceSddl(kUserB)}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(TunnelServiceDefinition(row.executable, kConfigPath, row.user),
              row.definition)
        << row.definition.binary_path;
  }
  // The service's SDDL, spelled out here alone: a fixed 133-character grant
  // to SYSTEM, the Administrators and every interactive user, then the
  // user's start and stop rights with the SID as given.
  const std::wstring fixed =
      L"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
      L"(A;;CCLCSWLOCRRC;;;IU)(A;;CCLCSWLOCRRC;;;SU)(A;;RPWPCCLCSWLOCRRC;;;";
  EXPECT_EQ(fixed.size(), 133u);
  EXPECT_EQ(ServiceSddl(kUserA), fixed + kUserA + L")");
}

TEST_F(InstallTest, CreatesTheExactServiceAndDirectory) {
  ASSERT_EQ(RunInstallMode(kUserA), 0);

  const SimulatedPlatform::Service* service = sim_.FindService(kServiceName);
  ASSERT_NE(service, nullptr);
  // The definition, its security included, as FollowsTheExecutableAndTheUser
  // pins it; then what a new service has beyond it.
  EXPECT_EQ(DefinitionOf(*service),
            TunnelServiceDefinition(sim_.module_path(), kConfigPath, kUserA));
  EXPECT_EQ(service->load_order_group, L"");
  EXPECT_FALSE(service->tag_requested);
  EXPECT_EQ(service->account, L"LocalSystem");
  EXPECT_FALSE(service->password.has_value());
  EXPECT_EQ(service->state, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(service->start_count, 0);

  const SimulatedPlatform::Node* directory = sim_.FindNode(kDataDirectory);
  ASSERT_NE(directory, nullptr);
  EXPECT_TRUE(directory->directory);
  EXPECT_EQ(directory->owner, L"BA");
  EXPECT_EQ(directory->dacl, DataDirectoryDacl(kUserA));
  EXPECT_EQ(sim_.FindNode(kConfigPath), nullptr);  // never written here
  EXPECT_EQ(sim_.open_service_handles(), 0);
  EXPECT_EQ(sim_.open_file_handles(), 0);
}

TEST_F(InstallTest, RepairsAMovedServiceAndKeepsItsAccount) {
  SimulatedPlatform::Service& old = sim_.AddService(kServiceName);
  old.binary_path = L"\"D:\\old\\varn_vpn.exe\" /service \"x\"";
  old.display_name = L"old name";
  old.start_type = SERVICE_AUTO_START;
  old.account = L"NT AUTHORITY\\LocalService";
  old.sddl = ServiceSddl(kUserA);
  sim_.SetModulePath(L"E:\\Apps\\Varn\\varn_vpn.exe");

  ASSERT_EQ(RunInstallMode(kUserA), 0);

  const SimulatedPlatform::Service* service = sim_.FindService(kServiceName);
  ASSERT_NE(service, nullptr);
  // Repaired in place: a new service would run as LocalSystem.
  EXPECT_EQ(DefinitionOf(*service),
            TunnelServiceDefinition(L"E:\\Apps\\Varn\\varn_vpn.exe",
                                    kConfigPath, kUserA));
  EXPECT_EQ(service->account, L"NT AUTHORITY\\LocalService");
  EXPECT_FALSE(service->password.has_value());
}

TEST_F(InstallTest, SecondUserTakesOverDirectoryAndService) {
  ASSERT_EQ(RunInstallMode(kUserA), 0);
  ASSERT_EQ(RunInstallMode(kUserA), 0);  // repeating is harmless
  ASSERT_EQ(RunInstallMode(kUserB), 0);
  EXPECT_EQ(sim_.FindNode(kDataDirectory)->dacl, DataDirectoryDacl(kUserB));
  const std::wstring sddl = sim_.FindService(kServiceName)->sddl;
  EXPECT_EQ(sddl, ServiceSddl(kUserB));
  EXPECT_EQ(sddl.find(kUserA), std::wstring::npos);
}

// Whatever stands at the directory's name and is not exactly the directory
// this install builds is renamed aside untouched, and a fresh one is built.
// An old directory of the administrators' is emptied and removed.
TEST_F(InstallTest, ForeignDirectoriesLinksAndFilesAreMovedAside) {
  struct Case {
    const char* name;
    std::function<void(SimulatedPlatform&)> plant;
    std::vector<std::wstring> left_in_program_data;
  };
  const auto plain = [](SimulatedPlatform& sim, const wchar_t* owner) {
    SimulatedPlatform::Node& node = sim.AddDirectory(kDataDirectory);
    node.owner = owner;
    node.dacl = L"D:(A;OICI;FA;;;WD)";
    sim.AddFile(std::wstring(kDataDirectory) + L"\\x", "x").owner = owner;
  };
  const Case cases[] = {
      {"administrators' folder open to everyone",
       [&](SimulatedPlatform& sim) { plain(sim, L"SY"); },
       {L"varnvpn"}},
      {"another user's folder",
       [&](SimulatedPlatform& sim) { plain(sim, kUserB); },
       {L"varnvpn", L"varnvpn.old-"}},
      {"junction to a system folder",
       [](SimulatedPlatform& sim) {
         sim.AddDirectory(L"C:\\Windows\\System32").owner = L"SY";
         sim.AddJunction(kDataDirectory, L"C:\\Windows\\System32");
       },
       {L"varnvpn", L"varnvpn.old-"}},
      {"a file",
       [](SimulatedPlatform& sim) { sim.AddFile(kDataDirectory, ""); },
       {L"varnvpn", L"varnvpn.old-"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedPlatform sim;
    sim.user().elevated = true;
    c.plant(sim);
    ASSERT_EQ(RunInstallMode(kUserA), 0);
    EXPECT_EQ(sim.FindNode(kDataDirectory)->owner, L"BA");
    EXPECT_EQ(sim.FindNode(kDataDirectory)->dacl, DataDirectoryDacl(kUserA));
    std::vector<std::wstring> left;
    for (std::wstring name : sim.Children(L"C:\\ProgramData")) {
      // The aside name ends in random digits.
      if (name.find(L".old-") != std::wstring::npos) name.resize(12);
      left.push_back(name);
    }
    EXPECT_EQ(left, c.left_in_program_data);
    EXPECT_TRUE(sim.AllReleased()) << sim.LeakReport();
  }
}

// The service gets the executable's real place, not the link it was started
// through.
TEST_F(InstallTest, BinaryPathIsTheExecutablesFinalPath) {
  sim_.AddJunction(L"C:\\Tools\\varn", L"C:\\Program Files\\Varn VPN");
  sim_.SetModulePath(L"C:\\Tools\\varn\\varn_vpn.exe");
  ASSERT_EQ(RunInstallMode(kUserA), 0);
  EXPECT_EQ(sim_.FindService(kServiceName)->binary_path, kBinaryPath);
}

// The bundle in a folder an administrator made with default security.
void PlaceInNewFolder(SimulatedPlatform& sim, const std::wstring& folder) {
  sim.RunAs({kUserB, true, false},
            [&] { Os().CreateDirectoryW(folder.c_str(), nullptr); });
  sim.SetModulePath(folder + L"\\varn_vpn.exe");
}

// Every failing exit code of the installer, each from its own cause, with
// nothing left open.
TEST(InstallExitCodeTest, EachFailureHasItsCode) {
  struct Case {
    const char* name;
    std::wstring sid;
    std::function<void(SimulatedPlatform&)> setup;
    int expected;
  };
  const auto none = [](SimulatedPlatform&) {};
  // As the service manager creates it: nobody but SYSTEM and the
  // Administrators controls it.
  const auto existing = [](SimulatedPlatform& sim) {
    sim.AddService(kServiceName).sddl =
        L"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
        L"(A;;CCLCSWLOCRRC;;;IU)(A;;CCLCSWLOCRRC;;;SU)";
  };
  const Case cases[] = {
      {"missing SID", L"", none, 10},
      // The text rules themselves: UserSidFormTest.
      {"resolves to a group", kUserA,
       [](SimulatedPlatform& sim) { sim.AddAccount(kUserA, SidTypeGroup); },
       10},
      {"resolves to an alias", kUserA,
       [](SimulatedPlatform& sim) { sim.AddAccount(kUserA, SidTypeAlias); },
       10},
      {"not convertible back", kUserA,
       [](SimulatedPlatform& sim) {
         sim.FailOnce("ConvertSidToStringSidW", ERROR_NOT_ENOUGH_MEMORY);
       },
       10},
      {"built-in administrator account", L"S-1-5-21-100-200-300-500",
       [](SimulatedPlatform& sim) {
         sim.AddAccount(L"S-1-5-21-100-200-300-500", SidTypeUser);
       },
       0},
      {"cloud account", L"S-1-12-1-3263842183-1245520385-2541742265-987654",
       none, 0},
      {"account lookup fails", kUserA,
       [](SimulatedPlatform& sim) {
         sim.FailOnce("LookupAccountSidW", ERROR_TRUSTED_RELATIONSHIP_FAILURE);
       },
       0},
      {"no program data", kUserA,
       [](SimulatedPlatform& sim) {
         sim.FailAlways("SHGetKnownFolderPath", ERROR_FILE_NOT_FOUND);
       },
       11},
      {"executable path too long", kUserA,
       [](SimulatedPlatform& sim) {
         sim.SetModulePath(L"C:\\" + std::wstring(300, L'a') + L".exe");
       },
       11},
      {"directory not creatable", kUserA,
       [](SimulatedPlatform& sim) {
         sim.FailAlways("CreateDirectoryW", ERROR_ACCESS_DENIED);
       },
       12},
      {"program data missing", kUserA,
       [](SimulatedPlatform& sim) { sim.RemoveNode(L"C:\\ProgramData"); }, 12},
      {"program data reached through a junction", kUserA,
       [](SimulatedPlatform& sim) {
         sim.RemoveNode(L"C:\\ProgramData");
         sim.AddJunction(L"C:\\ProgramData", L"D:\\Elsewhere");
       },
       12},
      {"directory held open without delete sharing", kUserA,
       [](SimulatedPlatform& sim) {
         sim.AddDirectory(kDataDirectory).owner = L"BA";
         sim.OpenForeign(kDataDirectory, FILE_LIST_DIRECTORY, FILE_SHARE_READ);
       },
       12},
      {"install location writable by users", kUserA,
       [](SimulatedPlatform& sim) {
         sim.FindNode(L"C:\\Program Files\\Varn VPN")->dacl +=
             L"(A;;0x1301BF;;;BU)";
       },
       21},
      // A folder an administrator makes takes its parent's entries: below a
      // drive's root every user may modify it, below Program Files not.
      {"bundle in a new folder under the drive's root", kUserA,
       [](SimulatedPlatform& sim) { PlaceInNewFolder(sim, L"C:\\Varn"); }, 21},
      {"bundle in a new folder under Program Files", kUserA,
       [](SimulatedPlatform& sim) {
         PlaceInNewFolder(sim, L"C:\\Program Files\\Varn");
       },
       0},
      {"directory SDDL not convertible", kUserA,
       [](SimulatedPlatform& sim) {
         sim.FailOnce("ConvertStringSecurityDescriptorToSecurityDescriptorW",
                      ERROR_NOT_ENOUGH_MEMORY);
       },
       13},
      {"directory DACL refused", kUserA,
       [](SimulatedPlatform& sim) {
         sim.FailAlways("SetKernelObjectSecurity", ERROR_ACCESS_DENIED);
       },
       13},
      {"old directory that cannot be moved aside", kUserA,
       [](SimulatedPlatform& sim) {
         sim.AddDirectory(kDataDirectory).owner = L"BA";
         sim.AddFile(std::wstring(kDataDirectory) + L"\\x", "").owner = kUserB;
         sim.FailAlways("SetFileInformationByHandle", ERROR_ACCESS_DENIED);
       },
       12},
      {"service manager down", kUserA,
       [](SimulatedPlatform& sim) {
         sim.FailAlways("OpenSCManagerW", RPC_S_SERVER_UNAVAILABLE);
       },
       14},
      {"creation refused", kUserA,
       [](SimulatedPlatform& sim) {
         sim.FailAlways("CreateServiceW", ERROR_INVALID_NAME);
       },
       15},
      {"previous user's service held open", kUserA,
       [](SimulatedPlatform& sim) {
         sim.AddService(kServiceName).sddl = ServiceSddl(kUserB);
         sim.RunAs({kUserB, false, false}, [&] {
           sim.OpenForeignService(kServiceName, SERVICE_START | SERVICE_STOP);
         });
       },
       22},
      {"service marked for deletion", kUserA,
       [](SimulatedPlatform& sim) {
         SimulatedPlatform::Service& service = sim.AddService(kServiceName);
         service.marked_for_deletion = true;
         service.state = SERVICE_STOP_PENDING;
       },
       15},
      {"existing service not openable", kUserA,
       [&](SimulatedPlatform& sim) {
         existing(sim);
         sim.FailAlways("OpenServiceW", ERROR_ACCESS_DENIED);
       },
       16},
      {"reconfiguration refused", kUserA,
       [&](SimulatedPlatform& sim) {
         existing(sim);
         sim.FailAlways("ChangeServiceConfigW", ERROR_ACCESS_DENIED);
       },
       17},
      {"SID type not supported", kUserA,
       [](SimulatedPlatform& sim) {
         sim.FailOnce("ChangeServiceConfig2W", ERROR_INVALID_LEVEL);
       },
       18},
      {"SID type not supported on repair", kUserA,
       [&](SimulatedPlatform& sim) {
         existing(sim);
         sim.FailOnce("ChangeServiceConfig2W", ERROR_INVALID_LEVEL);
       },
       18},
      {"service SDDL not convertible", kUserA,
       [](SimulatedPlatform& sim) {
         sim.FailToConvert(ServiceSddl(kUserA), ERROR_NOT_ENOUGH_MEMORY);
       },
       19},
      {"service DACL refused", kUserA,
       [](SimulatedPlatform& sim) {
         sim.FailAlways("SetServiceObjectSecurity", ERROR_ACCESS_DENIED);
       },
       20},
      {"description refused is ignored", kUserA,
       [](SimulatedPlatform& sim) {
         sim.FailOnUse("ChangeServiceConfig2W", ERROR_ACCESS_DENIED, 2);
       },
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedPlatform sim;
    sim.user().elevated = true;
    c.setup(sim);
    const auto files = sim.FileTree();
    EXPECT_EQ(RunInstallMode(c.sid), c.expected);
    EXPECT_TRUE(sim.AllReleased()) << sim.LeakReport();
    if (c.expected == 10 || c.expected == 11 || c.expected == 21) {
      // Nothing is touched for a bad SID, no path or an unprotected
      // location.
      EXPECT_EQ(sim.FindService(kServiceName), nullptr);
    }
    if (c.expected == 10 || c.expected == 11 || c.expected == 21 ||
        c.expected == 14 || c.expected == 22) {
      EXPECT_EQ(sim.FileTree(), files);
    }
    // A failed install grants the user nothing on the service.
    if (c.expected != 0 && sim.FindService(kServiceName) != nullptr) {
      EXPECT_EQ(sim.FindService(kServiceName)->sddl.find(c.sid),
                std::wstring::npos);
    }
  }
}

class UninstallTest : public testing::SimulatedTest {
 protected:
  void SetUp() override {
    sim_.user().elevated = true;
    sim_.AddFile(kConfigPath, "[Interface]");
  }
  SimulatedPlatform::Service& RunningService() {
    SimulatedPlatform::Service& service = sim_.AddService(kServiceName);
    service.state = SERVICE_RUNNING;
    return service;
  }
};

TEST_F(UninstallTest, StopsWaitsAndDeletesInOrder) {
  RunningService().stop_pending_ms = 600;
  // The order is the point: the private key is gone, its handle closed,
  // before the service manager is asked for anything; the service has
  // stopped when it is deleted.
  std::optional<std::string> file_at_manager = "not reached";
  int file_handles_at_manager = -1;
  std::optional<DWORD> state_at_delete;
  sim_.before_call = [&](const std::string& function) {
    if (function == "OpenSCManagerW") {
      file_at_manager = sim_.FileContents(kConfigPath);
      file_handles_at_manager = sim_.open_file_handles();
    }
    if (function == "DeleteService" && !state_at_delete) {
      state_at_delete = sim_.FindService(kServiceName)->state;
    }
  };
  const uint64_t start = sim_.now();
  EXPECT_EQ(RunUninstallMode(), 0);
  sim_.before_call = nullptr;
  EXPECT_EQ(sim_.FindService(kServiceName), nullptr);
  EXPECT_EQ(sim_.FindNode(kConfigPath), nullptr);
  EXPECT_EQ(sim_.now() - start, 750u);  // three polls of 250 ms
  EXPECT_EQ(file_at_manager, std::nullopt);
  EXPECT_EQ(file_handles_at_manager, 0);
  EXPECT_EQ(state_at_delete, static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(UninstallTest, SlowStopStillDeletesTheService) {
  RunningService().stop_pending_ms = 60'000;
  const uint64_t start = sim_.now();
  EXPECT_EQ(RunUninstallMode(), 0);
  EXPECT_GE(sim_.now() - start, 10'000u);
  EXPECT_LT(sim_.now() - start, 10'250u);
  const SimulatedPlatform::Service* service = sim_.FindService(kServiceName);
  ASSERT_NE(service, nullptr);  // gone once it has stopped
  EXPECT_TRUE(service->marked_for_deletion);
  sim_.Advance(60'000);
  EXPECT_EQ(sim_.FindService(kServiceName), nullptr);
}

TEST_F(UninstallTest, StoppedServiceOrRefusedStopIsDeletedAtOnce) {
  sim_.AddService(kServiceName);  // stopped: the stop control fails
  const uint64_t start = sim_.now();
  EXPECT_EQ(RunUninstallMode(), 0);
  EXPECT_EQ(sim_.now(), start);  // no wait
  EXPECT_EQ(sim_.FindService(kServiceName), nullptr);

  RunningService().stop_error = ERROR_SERVICE_REQUEST_TIMEOUT;
  EXPECT_EQ(RunUninstallMode(), 0);
  EXPECT_TRUE(sim_.FindService(kServiceName)->marked_for_deletion);
}

TEST_F(UninstallTest, NoServiceIsSuccessAndTheFileIsGone) {
  EXPECT_EQ(RunUninstallMode(), 0);
  EXPECT_EQ(sim_.FindNode(kConfigPath), nullptr);
  EXPECT_EQ(sim_.FindService(kServiceName), nullptr);  // none made either
}

TEST(UninstallExitCodeTest, FailuresStillDeleteTheConfigurationFirst) {
  struct Case {
    const char* name;
    std::function<void(SimulatedPlatform&)> setup;
    int expected;
  };
  const Case cases[] = {
      {"service manager unavailable",
       [](SimulatedPlatform& sim) {
         sim.FailAlways("OpenSCManagerW", ERROR_ACCESS_DENIED);
       },
       30},
      {"service not openable",
       [](SimulatedPlatform& sim) {
         sim.AddService(kServiceName).denied_access = DELETE;
       },
       31},
      {"deletion refused",
       [](SimulatedPlatform& sim) {
         sim.AddService(kServiceName);
         sim.FailAlways("DeleteService", ERROR_ACCESS_DENIED);
       },
       32},
      {"already marked for deletion",
       [](SimulatedPlatform& sim) {
         SimulatedPlatform::Service& service = sim.AddService(kServiceName);
         service.marked_for_deletion = true;
         service.state = SERVICE_RUNNING;
       },
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedPlatform sim;
    sim.AddFile(kConfigPath, "[Interface]");
    c.setup(sim);
    std::map<std::wstring, std::string> files = sim.FileTree();
    EXPECT_EQ(RunUninstallMode(), c.expected);
    EXPECT_EQ(sim.FindNode(kConfigPath), nullptr);
    // The configuration alone: nothing else on disk changes.
    files.erase(L"c:\\programdata\\varnvpn\\varnvpn.conf");
    EXPECT_EQ(sim.FileTree(), files);
    EXPECT_TRUE(sim.AllReleased()) << sim.LeakReport();
  }
}

}  // namespace
}  // namespace tunnel_control::testing
