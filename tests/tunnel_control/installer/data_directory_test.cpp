// The data directory as the installer builds it and what the user may do in
// it afterwards, against the simulated platform.
#include "app/tunnel_control/installer/data_directory.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/tunnel_control/client/tunnel_config.h"
#include "tests/tunnel_control/support/simulated_test.h"

namespace tunnel_control::testing {
namespace {

using DataDirectoryTest = testing::SimulatedTest;

TEST_F(DataDirectoryTest, SecurityDescriptorsAreFixedStrings) {
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

// What stands at the data directory's name, from the facts learned of it:
// only a real directory of SYSTEM or the Administrators, at the name, is
// locked and looked into, and only one exactly as we leave it is kept.
TEST(ClassifyExistingTest, KeepsOnlyExactlyOursAndNeverEntersAnythingElse) {
  const std::vector<AccessEntry> ours = {
      {ACCESS_ALLOWED_ACE_TYPE, 3, FILE_ALL_ACCESS, L"S-1-5-18"},
      {ACCESS_ALLOWED_ACE_TYPE, 0, 0x1200AB, kUserA}};
  ExistingFacts exact;
  exact.held = true;
  exact.object = ObjectFacts{true, false, 1};
  exact.at_name = true;
  exact.security = ObjectSecurity{L"S-1-5-32-544", true, ours};
  exact.locked = true;
  exact.only_our_files = true;
  const auto but = [&](const std::function<void(ExistingFacts&)>& change) {
    ExistingFacts facts = exact;
    change(facts);
    return facts;
  };
  struct Case {
    const char* name;
    ExistingFacts facts;
    Found found;
  };
  const Case cases[] = {
      {"exactly ours", exact, Found::kKeep},
      {"owned by SYSTEM",
       but([](ExistingFacts& f) { f.security->owner = L"S-1-5-18"; }),
       Found::kKeep},
      {"held open by someone", but([](ExistingFacts& f) {
         f = {};
         f.sharing_violation = true;
       }),
       Found::kBusy},
      {"shut to us and not movable", ExistingFacts{}, Found::kBusy},
      {"shut to us but movable", but([](ExistingFacts& f) {
         f = {};
         f.movable = true;
       }),
       Found::kAside},
      {"unreadable", but([](ExistingFacts& f) { f.object.reset(); }),
       Found::kAside},
      {"a file", but([](ExistingFacts& f) { f.object->directory = false; }),
       Found::kAside},
      {"a junction",
       but([](ExistingFacts& f) { f.object->reparse_point = true; }),
       Found::kAside},
      {"reached elsewhere", but([](ExistingFacts& f) { f.at_name = false; }),
       Found::kNotAt},
      {"security unreadable", but([](ExistingFacts& f) { f.security.reset(); }),
       Found::kAside},
      {"a user's folder",
       but([](ExistingFacts& f) { f.security->owner = kUserA; }),
       Found::kAside},
      {"ours, not yet locked", but([](ExistingFacts& f) {
         f.locked.reset();
         f.only_our_files.reset();
       }),
       Found::kToLock},
      {"lock refused", but([](ExistingFacts& f) { f.locked = false; }),
       Found::kNotSecured},
      {"another user's entries, not listed", but([](ExistingFacts& f) {
         f.security->dacl.back().sid = kUserB;
         f.only_our_files.reset();
       }),
       Found::kAsideOurs},
      {"no DACL", but([](ExistingFacts& f) { f.security->has_dacl = false; }),
       Found::kAsideOurs},
      {"locked, not yet listed",
       but([](ExistingFacts& f) { f.only_our_files.reset(); }), Found::kToList},
      {"foreign files", but([](ExistingFacts& f) { f.only_our_files = false; }),
       Found::kAsideOurs},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyExisting(c.facts, ours), c.found) << c.name;
  }
}

// What the user may and may not do in a freshly prepared directory.
TEST_F(DataDirectoryTest, PreparedDirectoryLetsTheUserWriteButNotRedirect) {
  const SimulatedPlatform::User admin{L"S-1-5-21-9-9-9-500", true, false};
  const SimulatedPlatform::User user{kUserA, false, false};
  const std::map<std::wstring, std::string> before = sim_.FileTree();
  DirectoryResult result = DirectoryResult::kRefused;
  sim_.RunAs(admin,
             [&] { result = PrepareDataDirectory(kDataDirectory, kUserA); });
  ASSERT_EQ(result, DirectoryResult::kReady);
  // One folder, at the name itself, holding the marker and the empty log.
  std::vector<std::wstring> added;
  for (const auto& [name, contents] : sim_.FileTree()) {
    if (!before.contains(name)) added.push_back(name);
  }
  EXPECT_EQ(added,
            (std::vector<std::wstring>{L"c:\\programdata\\varnvpn\\",
                                       L"c:\\programdata\\varnvpn\\keep.txt",
                                       L"c:\\programdata\\varnvpn\\log.bin"}));
  const SimulatedPlatform::Node* directory = sim_.FindNode(kDataDirectory);
  EXPECT_EQ(directory->owner, L"BA");
  EXPECT_EQ(directory->dacl, DataDirectoryDacl(kUserA));
  const std::wstring marker = std::wstring(kDataDirectory) + L"\\keep.txt";
  ASSERT_NE(sim_.FindNode(marker), nullptr);
  EXPECT_EQ(sim_.FindNode(marker)->dacl,
            std::wstring(kDirectoryMarkerSddl).substr(4));

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

// The same user's directory, exactly as it was left, is kept with the
// user's configuration in it.
TEST_F(DataDirectoryTest, TheSameUsersDirectoryIsKept) {
  const SimulatedPlatform::User admin{L"S-1-5-21-9-9-9-500", true, false};
  DirectoryResult result = DirectoryResult::kRefused;
  sim_.RunAs(admin, [&] { PrepareDataDirectory(kDataDirectory, kUserA); });
  sim_.RunAs({kUserA, false, false}, [&] {
    OpError error;
    ASSERT_TRUE(WriteTunnelConfig("[Interface]", &error));
  });
  sim_.RunAs(admin,
             [&] { result = PrepareDataDirectory(kDataDirectory, kUserA); });
  ASSERT_EQ(result, DirectoryResult::kReady);
  EXPECT_EQ(sim_.Children(L"C:\\ProgramData"),
            std::vector<std::wstring>{L"varnvpn"});
  sim_.RunAs({kUserA, false, false},
             [&] { EXPECT_EQ(sim_.Read(kConfigPath), "[Interface]"); });
}

// Another user's directory is moved aside and emptied; the next user gets a
// fresh one. A file held open without delete sharing keeps it in place.
TEST_F(DataDirectoryTest, AnotherUsersDirectoryIsMovedAside) {
  const SimulatedPlatform::User admin{L"S-1-5-21-9-9-9-500", true, false};
  const SimulatedPlatform::User a{kUserA, false, false};
  const std::wstring notes = std::wstring(kDataDirectory) + L"\\notes.txt";
  DirectoryResult result = DirectoryResult::kRefused;
  sim_.RunAs(admin, [&] { PrepareDataDirectory(kDataDirectory, kUserA); });
  sim_.RunAs(a, [&] {
    sim_.WriteContents(kConfigPath, "key of a");
    sim_.WriteContents(notes, "notes");
    // Shuts the administrators out of it: the folder's delete-child right
    // still lets the switch clear it away.
    sim_.SetDacl(notes, L"D:P(A;;FA;;;" + std::wstring(kUserA) + L")");
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
  EXPECT_EQ(sim_.FindNode(kDataDirectory)->dacl, DataDirectoryDacl(kUserB));
}

}  // namespace
}  // namespace tunnel_control::testing
