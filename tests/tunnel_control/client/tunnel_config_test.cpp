// Writing and deleting the configuration file, against the simulated
// platform.
#include "app/tunnel_control/client/tunnel_config.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "app/tunnel_control/installer/data_directory_security.h"
#include "tests/tunnel_control/support/outcome_matchers.h"
#include "tests/tunnel_control/support/simulated_test.h"

namespace tunnel_control::testing {
namespace {

using TunnelConfigTest = testing::SimulatedTest;

// A new file each time: an old one that is a second name of another file
// is not written through, and nobody opens the new one while it is written.
TEST_F(TunnelConfigTest, WriteReplacesTheWholeFile) {
  const std::wstring other = std::wstring(kDataDirectory) + L"\\notes";
  sim_.AddDirectory(kDataDirectory);
  sim_.AddFile(other, std::string(500, 'x'));
  sim_.AddHardLink(kConfigPath, other);
  const std::string text = "[Interface]\r\nPrivateKey = k\n# caf\xC3\xA9\n";
  DWORD open_while_written = 0;
  sim_.before_call = [&](const std::string& function) {
    if (function != "WriteFile") return;
    sim_.RunAs({kUserB, true, false}, [&] {
      HANDLE h = sim_.OpenForeign(
          kConfigPath, FILE_READ_DATA,
          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
          &open_while_written);
      if (h != nullptr) sim_.CloseForeign(h);
    });
  };
  OpError error;
  ASSERT_TRUE(WriteTunnelConfig(text, &error));
  sim_.before_call = nullptr;
  EXPECT_EQ(sim_.FileContents(kConfigPath), text);
  EXPECT_EQ(sim_.FileContents(other), std::string(500, 'x'));
  EXPECT_EQ(open_while_written, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(NoError(error));
}

// Written from an elevated copy of the app too, the file stays the user's,
// so the same user replaces it later without elevation.
TEST(TunnelConfigOwnerTest, FileIsTheProcessUsersEvenWhenElevated) {
  for (const bool elevated : {false, true}) {
    SCOPED_TRACE(elevated ? "elevated" : "not elevated");
    testing::SimulatedPlatform sim;
    // The data directory as the installer leaves it for this user.
    testing::SimulatedPlatform::Node& directory =
        sim.AddDirectory(kDataDirectory);
    directory.owner = L"BA";
    directory.dacl = DataDirectoryDacl(sim.user().sid);
    sim.user().elevated = elevated;
    OpError error;
    ASSERT_TRUE(WriteTunnelConfig("first", &error)) << error.message;
    EXPECT_EQ(sim.FindNode(kConfigPath)->owner, sim.user().sid);
    sim.user().elevated = false;
    EXPECT_TRUE(WriteTunnelConfig("second", &error)) << error.message;
    EXPECT_EQ(sim.FileContents(kConfigPath), "second");
    EXPECT_TRUE(sim.AllReleased()) << sim.LeakReport();
  }
}

TEST_F(TunnelConfigTest, WriteOfEmptyTextLeavesAnEmptyFile) {
  sim_.AddDirectory(kDataDirectory);
  sim_.AddFile(kConfigPath, "old");
  OpError error{"earlier", "kept"};
  ASSERT_TRUE(WriteTunnelConfig("", &error));
  EXPECT_EQ(sim_.FileContents(kConfigPath), "");
  EXPECT_EQ(error.code, "earlier");  // untouched on success
}

TEST_F(TunnelConfigTest, WriteFailsWithoutProgramData) {
  sim_.FailAlways("SHGetKnownFolderPath", E_FAIL);
  const auto files = sim_.FileTree();
  OpError error;
  EXPECT_FALSE(WriteTunnelConfig("text", &error));
  EXPECT_TRUE(ErrorIs(error, kProgramDataUnresolved));
  EXPECT_EQ(sim_.FileTree(), files);
}

TEST_F(TunnelConfigTest, WriteReportsTheRealCauseAndWritesNothing) {
  struct Case {
    const char* name;
    std::function<void(SimulatedPlatform&)> setup;
    DWORD error_number;
  };
  const Case cases[] = {
      {"directory missing", [](SimulatedPlatform&) {}, 3},
      {"directory of another user",
       [](SimulatedPlatform& sim) {
         sim.AddDirectory(kDataDirectory).dacl =
             L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301BF;;;" +
             std::wstring(kUserB) + L")";
       },
       5},
      {"file held open elsewhere",
       [](SimulatedPlatform& sim) {
         sim.AddFile(kConfigPath, "old").locked_by_other = true;
       },
       32},
      {"old file shut to the user",
       [](SimulatedPlatform& sim) {
         const std::wstring user = sim.user().sid;
         sim.AddDirectory(kDataDirectory).dacl = L"D:P(A;;0x1200AB;;;" + user +
                                                 L")(A;OIIO;0x1301BF;;;" +
                                                 user + L")";
         sim.AddFile(kConfigPath, "old").dacl =
             L"D:P(A;;FA;;;" + std::wstring(kUserB) + L")";
       },
       5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedPlatform sim;
    c.setup(sim);
    const auto files = sim.FileTree();
    OpError error;
    EXPECT_FALSE(WriteTunnelConfig("text", &error));
    EXPECT_TRUE(ErrorIs(error, kConfigWriteFailed, c.error_number));
    EXPECT_EQ(sim.FileTree(), files);
    EXPECT_TRUE(sim.AllReleased()) << sim.LeakReport();
  }
}

TEST_F(TunnelConfigTest, ShortOrFailedWriteDeletesTheFile) {
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
    EXPECT_TRUE(ErrorIs(error, kConfigShortWrite));
    EXPECT_EQ(sim_.FindNode(kConfigPath), nullptr);
  }
}

// The 32-bit count of a text of 4 GiB or more never matches its length. The
// text is reserved address space; only its first bytes are ever read.
TEST_F(TunnelConfigTest, TextOfFourGibibytesOrMoreNeverSucceeds) {
  sim_.AddDirectory(kDataDirectory);
  constexpr size_t kFourGiB = size_t{1} << 32;
  char* space = static_cast<char*>(
      ::VirtualAlloc(nullptr, kFourGiB + 4096, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(space, nullptr);
  ASSERT_NE(::VirtualAlloc(space, 4096, MEM_COMMIT, PAGE_READWRITE), nullptr);
  std::memcpy(space, "abcde", 5);
  for (size_t size : {kFourGiB, kFourGiB + 5}) {
    SCOPED_TRACE(size);
    OpError error;
    // Reading past the first page would fault: the write asks for no more.
    EXPECT_FALSE(WriteTunnelConfig(std::string_view(space, size), &error));
    EXPECT_TRUE(ErrorIs(error, kConfigShortWrite));
    EXPECT_EQ(sim_.FindNode(kConfigPath), nullptr);
  }
  ::VirtualFree(space, 0, MEM_RELEASE);
}

TEST_F(TunnelConfigTest, DeleteIsSilentInEveryCase) {
  sim_.AddDirectory(kDataDirectory);
  sim_.AddFile(kConfigPath, "x");
  DeleteTunnelConfig();
  EXPECT_EQ(sim_.FindNode(kConfigPath), nullptr);
  DeleteTunnelConfig();  // no file
  sim_.AddFile(kConfigPath, "x");
  sim_.FailAlways("SHGetKnownFolderPath", E_FAIL);
  const auto files = sim_.FileTree();
  DeleteTunnelConfig();  // no path: nothing is attempted
  EXPECT_EQ(sim_.FileTree(), files);
}

}  // namespace
}  // namespace tunnel_control::testing
