// The data directory, its access list and the configuration file, against
// the simulated platform.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "app/tunnel_control/client/tunnel_config.h"
#include "app/tunnel_control/common/tunnel_paths.h"
#include "app/tunnel_control/installer/data_directory.h"
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

TEST_F(TunnelFilesTest, SecurityDescriptorsAreFixedStrings) {
  const std::wstring user(kUserA);
  EXPECT_EQ(DataDirectorySddl(kUserA),
            L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200AB;;;" + user +
                L")(A;OIIO;0x1301BF;;;CO)(A;OIIO;FR;;;" + user + L")");
  EXPECT_EQ(LockedDataDirectorySddl(kUserA),
            L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OIIO;0x1301BF;;;CO)"
            L"(A;OIIO;FR;;;" +
                user + L")");
  EXPECT_EQ(std::wstring(kDirectoryMarkerSddl),
            L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)");
  EXPECT_EQ(TunnelLogSddl(kUserA), L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;" +
                                       std::wstring(kUserA) + L")");
}

// What the user may and may not do in a freshly prepared directory.
TEST_F(TunnelFilesTest, PreparedDirectoryLetsTheUserWriteButNotRedirect) {
  const SimulatedPlatform::User admin{L"S-1-5-21-9-9-9-500", true, false};
  const SimulatedPlatform::User user{kUserA, false, false};
  DirectoryResult result = DirectoryResult::kRefused;
  sim_.RunAs(admin,
             [&] { result = PrepareDataDirectory(kDataDirectory, kUserA); });
  ASSERT_EQ(result, DirectoryResult::kReady);
  EXPECT_EQ(sim_.CallsTo("CreateDirectoryW"),
            std::vector<std::string>{
                "CreateDirectoryW(\"C:\\ProgramData\\VarnVPN\", attributes)"});
  const SimulatedPlatform::Node* directory = sim_.FindNode(kDataDirectory);
  EXPECT_EQ(directory->owner, L"BA");
  EXPECT_EQ(directory->dacl, DataDirectorySddl(kUserA).substr(4));
  const std::wstring marker = std::wstring(kDataDirectory) + L"\\keep.txt";
  ASSERT_NE(sim_.FindNode(marker), nullptr);
  EXPECT_EQ(sim_.FindNode(marker)->dacl, L"D:P(A;;FA;;;SY)(A;;FA;;;BA)");

  sim_.RunAs(user, [&] {
    OpError error;
    ASSERT_TRUE(WriteTunnelConfig("[Interface]", &error));
    EXPECT_EQ(
        testing::SddlAces(sim_.FindNode(kConfigPath)->dacl),
        (std::vector<std::wstring>{L"A;ID;FA;;;SY", L"A;ID;FA;;;BA",
                                   L"A;ID;0x1301BF;;;" + std::wstring(kUserA),
                                   L"A;ID;FR;;;" + std::wstring(kUserA)}));
    EXPECT_EQ(sim_.Rename(kDataDirectory, L"C:\\ProgramData\\x"),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(sim_.SetDacl(kDataDirectory, L"D:(A;;FA;;;WD)"),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(Os().DeleteFileW(marker.c_str()));
    const std::wstring log = std::wstring(kDataDirectory) + L"\\log.bin";
    EXPECT_EQ(sim_.Read(log), "");
    EXPECT_FALSE(Os().DeleteFileW(log.c_str()));
    DeleteTunnelConfig();
    EXPECT_EQ(sim_.MakeJunction(kDataDirectory, L"C:\\Windows"),
              static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  });
}

// Another user's directory is moved aside and emptied; the next user gets a
// fresh one. A file held open without delete sharing keeps it in place.
TEST_F(TunnelFilesTest, AnotherUsersDirectoryIsMovedAside) {
  const SimulatedPlatform::User admin{L"S-1-5-21-9-9-9-500", true, false};
  const SimulatedPlatform::User a{kUserA, false, false};
  const std::wstring notes = std::wstring(kDataDirectory) + L"\\notes.txt";
  DirectoryResult result = DirectoryResult::kRefused;
  sim_.RunAs(admin, [&] { PrepareDataDirectory(kDataDirectory, kUserA); });
  sim_.RunAs(a, [&] {
    sim_.WriteContents(kConfigPath, "key of a");
    sim_.WriteContents(notes, "notes");
  });
  HANDLE tunnel = INVALID_HANDLE_VALUE;
  sim_.RunAs({L"S-1-5-18", false, true}, [&] {
    tunnel = sim_.OpenForeign(kConfigPath, FILE_READ_DATA, 0);
  });
  ASSERT_NE(tunnel, INVALID_HANDLE_VALUE);
  sim_.RunAs(admin,
             [&] { result = PrepareDataDirectory(kDataDirectory, kUserB); });
  EXPECT_EQ(result, DirectoryResult::kRefused);
  sim_.RunAs({kUserB, false, false},
             [&] { EXPECT_EQ(sim_.Read(kConfigPath), std::nullopt); });

  sim_.CloseForeign(tunnel);
  sim_.RunAs(admin,
             [&] { result = PrepareDataDirectory(kDataDirectory, kUserB); });
  ASSERT_EQ(result, DirectoryResult::kReady);
  EXPECT_EQ(sim_.Children(L"C:\\ProgramData"),
            std::vector<std::wstring>{L"varnvpn"});
  EXPECT_EQ(sim_.Children(kDataDirectory),
            (std::vector<std::wstring>{L"keep.txt", L"log.bin"}));
  EXPECT_EQ(sim_.FindNode(kDataDirectory)->dacl,
            DataDirectorySddl(kUserB).substr(4));
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
                "0x40000000, 0x0, 1, 0x80)"});
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

TEST_F(TunnelFilesTest, WriteReportsTheRealCauseAndWritesNothing) {
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
      {"old file shut to the user",
       [](SimulatedPlatform& sim) {
         const std::wstring user = sim.user().sid;
         sim.AddDirectory(kDataDirectory).dacl = L"D:P(A;;0x1200AB;;;" + user +
                                                 L")(A;OIIO;0x1301BF;;;" +
                                                 user + L")";
         sim.AddFile(kConfigPath, "old").dacl =
             L"D:P(A;;FA;;;" + std::wstring(kUserB) + L")";
       },
       "Could not write the tunnel config (error 5)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedPlatform sim;
    c.setup(sim);
    OpError error;
    EXPECT_FALSE(WriteTunnelConfig("text", &error));
    EXPECT_EQ(error.code, "config_write_failed");
    EXPECT_EQ(error.message, c.message);
    EXPECT_EQ(sim.CountCalls("WriteFile"), 0);
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
