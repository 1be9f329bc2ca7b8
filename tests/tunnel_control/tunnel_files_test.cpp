// The data directory, its access list and the configuration file, against
// the simulated platform.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "app/tunnel_control/data_directory.h"
#include "app/tunnel_control/tunnel_config.h"
#include "tests/tunnel_control/simulated_platform.h"

namespace tunnel_control {
namespace {

using testing::kConfigPath;
using testing::kDataDirectory;
using testing::kUserA;
using testing::kUserB;
using testing::SimulatedPlatform;

class TunnelFilesTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(sim_.AllReleased()) << sim_.LeakReport();
  }
  SimulatedPlatform sim_;
};

TEST_F(TunnelFilesTest, PathsFollowTheProgramDataFolder) {
  EXPECT_EQ(DataDirectoryPath(), kDataDirectory);
  EXPECT_EQ(ConfigFilePath(), kConfigPath);
  sim_.SetProgramData(L"D:\\Shared Data");
  EXPECT_EQ(DataDirectoryPath(), L"D:\\Shared Data\\VarnVPN");
  EXPECT_EQ(ConfigFilePath(), L"D:\\Shared Data\\VarnVPN\\VarnVPN.conf");
  EXPECT_EQ(sim_.CallsTo("SHGetKnownFolderPath")[0],
            "SHGetKnownFolderPath(ProgramData, 0x0, null)");
}

TEST_F(TunnelFilesTest, PathsAreEmptyWhenTheKnownFolderFails) {
  sim_.FailAlways("SHGetKnownFolderPath", ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DataDirectoryPath(), L"");
  EXPECT_EQ(ConfigFilePath(), L"");
}

TEST_F(TunnelFilesTest, DirectorySddlHasOwnerAdministratorsAndOneUser) {
  EXPECT_EQ(DataDirectorySddl(kUserA),
            std::wstring(L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
                         L"(A;OICI;0x1301BF;;;") +
                kUserA + L")");
}

TEST_F(TunnelFilesTest, ProtectSetsOwnerAndProtectedDaclInOneCall) {
  sim_.user().elevated = true;
  SimulatedPlatform::Node& directory = sim_.AddDirectory(kDataDirectory);
  directory.owner = kUserB;  // created beforehand by another user
  directory.dacl = L"D:(A;OICI;FA;;;" + std::wstring(kUserB) + L")";

  ASSERT_TRUE(ProtectDataDirectory(kDataDirectory, kUserA));

  EXPECT_EQ(directory.owner, L"BA");
  EXPECT_EQ(directory.dacl,
            std::wstring(L"D:PAI(A;OICI;FA;;;SY)"
                         L"(A;OICI;FA;;;BA)(A;OICI;0x1301BF;;;") +
                kUserA + L")");
  EXPECT_EQ(directory.last_security_information,
            static_cast<DWORD>(OWNER_SECURITY_INFORMATION |
                               DACL_SECURITY_INFORMATION |
                               PROTECTED_DACL_SECURITY_INFORMATION));
  EXPECT_EQ(directory.security_changes, 1);
  EXPECT_EQ(sim_.CallsTo("SetNamedSecurityInfoW"),
            std::vector<std::string>{
                "SetNamedSecurityInfoW(\"C:\\ProgramData\\VarnVPN\", 1, "
                "0x80000005)"});
}

TEST_F(TunnelFilesTest, ProtectForAnotherUserReplacesTheUserEntry) {
  sim_.user().elevated = true;
  sim_.AddDirectory(kDataDirectory);
  ASSERT_TRUE(ProtectDataDirectory(kDataDirectory, kUserA));
  ASSERT_TRUE(ProtectDataDirectory(kDataDirectory, kUserB));
  const std::vector<std::wstring> aces =
      testing::SddlAces(sim_.FindNode(kDataDirectory)->dacl);
  ASSERT_EQ(aces.size(), 3u);
  EXPECT_EQ(aces[2], L"A;OICI;0x1301BF;;;" + std::wstring(kUserB));
}

TEST_F(TunnelFilesTest, ProtectFailsOnEveryFailingStep) {
  sim_.user().elevated = true;
  SimulatedPlatform::Node& directory = sim_.AddDirectory(kDataDirectory);
  for (const char* step :
       {"ConvertStringSecurityDescriptorToSecurityDescriptorW",
        "GetSecurityDescriptorDacl", "GetSecurityDescriptorOwner",
        "SetNamedSecurityInfoW"}) {
    SCOPED_TRACE(step);
    sim_.FailOnce(step, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(ProtectDataDirectory(kDataDirectory, kUserA));
    EXPECT_EQ(directory.security_changes, 0);
  }
  // A SID that makes the SDDL invalid is caught by the conversion.
  EXPECT_FALSE(ProtectDataDirectory(kDataDirectory, L"nobody"));
  // Without the rights to change the directory's security.
  sim_.user().elevated = false;
  EXPECT_FALSE(ProtectDataDirectory(kDataDirectory, kUserA));
  EXPECT_EQ(directory.security_changes, 0);
}

TEST_F(TunnelFilesTest, WriteReplacesTheWholeFile) {
  sim_.AddDirectory(kDataDirectory);
  sim_.AddFile(kConfigPath, std::string(500, 'x'));
  const std::string text = "[Interface]\r\nPrivateKey = k\n# caf\xC3\xA9\n";
  OpError error;
  ASSERT_TRUE(WriteTunnelConfig(text, &error));
  EXPECT_EQ(sim_.FileContents(kConfigPath), text);
  EXPECT_EQ(error.code, "");
  EXPECT_EQ(error.message, "");
  EXPECT_EQ(sim_.CallsTo("CreateFileW"),
            std::vector<std::string>{
                "CreateFileW(\"C:\\ProgramData\\VarnVPN\\VarnVPN.conf\", "
                "0x40000000, 0x0, 2, 0x80)"});
}

TEST_F(TunnelFilesTest, WriteOfEmptyTextLeavesAnEmptyFile) {
  sim_.AddDirectory(kDataDirectory);
  sim_.AddFile(kConfigPath, "old");
  OpError error{"earlier", "kept"};
  ASSERT_TRUE(WriteTunnelConfig("", &error));
  EXPECT_EQ(sim_.FileContents(kConfigPath), "");
  EXPECT_EQ(error.code, "earlier");  // untouched on success
}

TEST_F(TunnelFilesTest, WriteFailsWithoutProgramData) {
  sim_.FailAlways("SHGetKnownFolderPath", E_FAIL);
  OpError error;
  EXPECT_FALSE(WriteTunnelConfig("text", &error));
  EXPECT_EQ(error.code, "config_write_failed");
  EXPECT_EQ(error.message, "Could not resolve %ProgramData%");
  EXPECT_EQ(sim_.CountCalls("CreateFileW"), 0);
}

TEST_F(TunnelFilesTest, WriteReportsTheOpenErrorAndDeletesNothing) {
  struct Case {
    const char* name;
    std::function<void(SimulatedPlatform&)> setup;
    const char* message;
  };
  const Case cases[] = {
      {"directory missing", [](SimulatedPlatform&) {},
       "Could not write the tunnel config (error 3)"},
      {"directory of another user",
       [](SimulatedPlatform& sim) {
         sim.AddDirectory(kDataDirectory).dacl =
             L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301BF;;;" +
             std::wstring(kUserB) + L")";
       },
       "Could not write the tunnel config (error 5)"},
      {"file held open elsewhere",
       [](SimulatedPlatform& sim) {
         sim.AddFile(kConfigPath, "old").locked_by_other = true;
       },
       "Could not write the tunnel config (error 32)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedPlatform sim;
    c.setup(sim);
    OpError error;
    EXPECT_FALSE(WriteTunnelConfig("text", &error));
    EXPECT_EQ(error.code, "config_write_failed");
    EXPECT_EQ(error.message, c.message);
    EXPECT_EQ(sim.CountCalls("DeleteFileW"), 0);
    EXPECT_TRUE(sim.AllReleased()) << sim.LeakReport();
  }
}

TEST_F(TunnelFilesTest, ShortOrFailedWriteDeletesTheFile) {
  sim_.AddDirectory(kDataDirectory);
  for (bool call_fails : {false, true}) {
    SCOPED_TRACE(call_fails ? "write call fails" : "write is short");
    sim_.AddFile(kConfigPath, "previous configuration");
    if (call_fails) {
      sim_.SetWriteLimit(std::nullopt);
      sim_.FailOnce("WriteFile", ERROR_DISK_FULL);
    } else {
      sim_.SetWriteLimit(3);
    }
    OpError error;
    EXPECT_FALSE(WriteTunnelConfig("[Interface]", &error));
    EXPECT_EQ(error.code, "config_write_failed");
    EXPECT_EQ(error.message, "Short write while saving the tunnel config");
    EXPECT_EQ(sim_.FindNode(kConfigPath), nullptr);
  }
}

// The 32-bit count of a text of 4 GiB or more never matches its length. The
// text is reserved address space; only its first bytes are ever read.
TEST_F(TunnelFilesTest, TextOfFourGibibytesOrMoreNeverSucceeds) {
  sim_.AddDirectory(kDataDirectory);
  constexpr size_t kFourGiB = size_t{1} << 32;
  char* space = static_cast<char*>(
      ::VirtualAlloc(nullptr, kFourGiB + 4096, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(space, nullptr);
  ASSERT_NE(::VirtualAlloc(space, 4096, MEM_COMMIT, PAGE_READWRITE), nullptr);
  std::memcpy(space, "abcde", 5);
  for (size_t size : {kFourGiB, kFourGiB + 5}) {
    SCOPED_TRACE(size);
    sim_.ClearCalls();
    OpError error;
    EXPECT_FALSE(WriteTunnelConfig(std::string_view(space, size), &error));
    EXPECT_EQ(error.message, "Short write while saving the tunnel config");
    EXPECT_EQ(sim_.CallsTo("WriteFile"),
              std::vector<std::string>{"WriteFile(" +
                                       std::to_string(size - kFourGiB) + ")"});
    EXPECT_EQ(sim_.FindNode(kConfigPath), nullptr);
  }
  ::VirtualFree(space, 0, MEM_RELEASE);
}

TEST_F(TunnelFilesTest, DeleteIsSilentInEveryCase) {
  sim_.AddDirectory(kDataDirectory);
  sim_.AddFile(kConfigPath, "x");
  DeleteTunnelConfig();
  EXPECT_EQ(sim_.FindNode(kConfigPath), nullptr);
  DeleteTunnelConfig();  // no file
  sim_.FailAlways("SHGetKnownFolderPath", E_FAIL);
  DeleteTunnelConfig();  // no path: nothing is attempted
  EXPECT_EQ(sim_.CountCalls("DeleteFileW"), 2);
}

}  // namespace
}  // namespace tunnel_control
