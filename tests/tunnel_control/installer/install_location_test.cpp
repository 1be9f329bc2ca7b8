// The install-location decision over plain owner and ACL data, and the
// package's install-folder check on a simulated machine.
#include "app/tunnel_control/installer/install_location.h"

#include <gtest/gtest.h>

#include <functional>

#include "app/tunnel_control/os/well_known_sids.h"
#include "tests/tunnel_control/support/simulated_platform.h"

namespace tunnel_control::testing {
namespace {

constexpr wchar_t kUsers[] = L"S-1-5-32-545";
constexpr wchar_t kAuthenticated[] = L"S-1-5-11";
constexpr wchar_t kSomeone[] = L"S-1-5-21-1-2-3-1001";
constexpr BYTE kAllow = ACCESS_ALLOWED_ACE_TYPE;
constexpr BYTE kDeny = ACCESS_DENIED_ACE_TYPE;
constexpr BYTE kInheritOnly =
    OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE;

// SYSTEM and the Administrators with full control, users reading.
ObjectSecurity Usual(const wchar_t* owner = kTrustedInstallerSid) {
  return {owner,
          true,
          {{kAllow, 3, FILE_ALL_ACCESS, kSystemSid},
           {kAllow, 3, FILE_ALL_ACCESS, kAdministratorsSid},
           {kAllow, 3, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, kUsers}}};
}

ObjectSecurity With(AccessEntry entry, ObjectSecurity security = Usual()) {
  security.dacl.push_back(entry);
  return security;
}

TEST(InstallLocationTest, OnlyTrustedPrincipalsMayChangeWhatMatters) {
  using R = LocationRole;
  struct Case {
    const char* name;
    ObjectSecurity security;
    R role;
    bool protected_;
  };
  ObjectSecurity no_dacl = Usual();
  no_dacl.has_dacl = false;
  const Case cases[] = {
      {"usual folder", Usual(), R::kAppFolder, true},
      {"owned by SYSTEM", Usual(kSystemSid), R::kAppFile, true},
      {"owned by a user", Usual(kSomeone), R::kAppFile, false},
      {"no DACL", no_dacl, R::kFolderAbove, false},
      {"users may create folders on the volume root",
       With({kAllow, CONTAINER_INHERIT_ACE, FILE_ADD_SUBDIRECTORY,
             kAuthenticated}),
       R::kFolderAbove, true},
      {"but not in the executable's folder",
       With({kAllow, 0, FILE_ADD_SUBDIRECTORY, kAuthenticated}), R::kAppFolder,
       false},
      {"users may add files to the executable's folder",
       With({kAllow, 0, FILE_ADD_FILE, kUsers}), R::kAppFolder, false},
      {"inherit-only entries do not apply",
       With({kAllow, kInheritOnly, GENERIC_ALL, kSomeone}), R::kAppFolder,
       true},
      {"a deny entry protects nothing relied on",
       With({kAllow, 0, FILE_GENERIC_WRITE, kSomeone},
            With({kDeny, 0, FILE_ALL_ACCESS, kSomeone})),
       R::kAppFile, false},
      {"generic write on a DLL", With({kAllow, 0, GENERIC_WRITE, kUsers}),
       R::kAppFile, false},
      {"delete-child above lets users rename the folder below",
       With({kAllow, 0, FILE_DELETE_CHILD, kUsers}), R::kFolderAbove, false},
      {"taking ownership above", With({kAllow, 0, WRITE_OWNER, kSomeone}),
       R::kFolderAbove, false},
      {"adding files above is harmless",
       With({kAllow, 0, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY, kUsers}),
       R::kFolderAbove, true},
      {"an entry whose trustee was not read",
       With({ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, DELETE, L""}), R::kAppFile,
       false},
      {"owner rights of a trusted owner",
       With({kAllow, 0, WRITE_DAC, L"S-1-3-4"}), R::kAppFile, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(OthersCannotChange(c.security, c.role), c.protected_);
  }
}

using V = InstallFolderVerdict;

// A Windows 10/11 client's volume root: Authenticated Users may create
// folders in the root itself and modify what they create below it.
constexpr wchar_t kClientRootDacl[] =
    L"D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICIIO;GA;;;CO)"
    L"(A;OICI;0x1200A9;;;BU)(A;;0x4;;;AU)(A;OICIIO;0x1301BF;;;AU)";
// C:\Program Files: TrustedInstaller's, users read and execute.
const std::wstring kProgramFilesDacl =
    std::wstring(L"D:PAI(A;;FA;;;") + kTrustedInstaller + L")(A;CIIO;GA;;;" +
    kTrustedInstaller +
    L")(A;;0x1301BF;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301BF;;;BA)"
    L"(A;OICIIO;GA;;;BA)(A;;0x1200A9;;;BU)(A;OICIIO;0xA0000000;;;BU)"
    L"(A;OICIIO;GA;;;CO)";
constexpr wchar_t kLockedDacl[] =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200A9;;;BU)";
const SimulatedPlatform::User kSystem{kSystemSid, false, true};
const SimulatedPlatform::User kB{kUserB, false, false};

// Both volumes and Program Files as on a fresh client, set here so the rows
// do not depend on the simulation's defaults.
void ClientMachine(SimulatedPlatform& sim) {
  for (const wchar_t* root : {L"C:\\", L"D:\\"}) {
    SimulatedPlatform::Node& node = sim.AddDirectory(root);
    node.owner = L"SY";
    node.dacl = kClientRootDacl;
  }
  SimulatedPlatform::Node& program_files =
      sim.AddDirectory(L"C:\\Program Files");
  program_files.owner = kTrustedInstaller;
  program_files.dacl = kProgramFilesDacl;
}

SimulatedPlatform::Node& Folder(SimulatedPlatform& sim,
                                const std::wstring& path,
                                const std::wstring& owner,
                                const std::wstring& dacl) {
  SimulatedPlatform::Node& node = sim.AddDirectory(path);
  node.owner = owner;
  node.dacl = dacl;
  return node;
}

// User B makes `path` and keeps a WRITE_DAC handle to it; then the package
// locks it (owner Administrators, protected DACL) unless `lock` is false.
void SquatWithHandle(SimulatedPlatform& sim, const std::wstring& path,
                     bool lock) {
  sim.RunAs(kB, [&] {
    Os().CreateDirectoryW(path.c_str(), nullptr);
    sim.OpenForeign(path, WRITE_DAC,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  });
  if (lock) {
    sim.FindNode(path)->owner = L"BA";
    sim.FindNode(path)->dacl = kLockedDacl;
  }
}

TEST(InstallLocationTest, PackageInstallFolders) {
  struct Row {
    const char* name;
    std::function<void(SimulatedPlatform&)> setup;
    const wchar_t* install_folder;
    InstallFolderCheck expected;
  };
  const auto none = [](SimulatedPlatform&) {};
  const Row rows[] = {
      {"the default folder, which Windows protects",
       none,
       L"C:\\Program Files\\Varn VPN\\",
       {V::kDefaultFolder, L"C:\\Program Files\\Varn VPN"}},
      {"a new folder under Program Files",
       none,
       L"C:\\Program Files\\Tools\\Varn VPN\\",
       {V::kAccepted, L"C:\\Program Files\\Tools\\Varn VPN"}},
      {"an administrators' folder there already",
       [](SimulatedPlatform& sim) {
         Folder(sim, L"C:\\Program Files\\Beta", L"BA", kLockedDacl);
       },
       L"C:\\Program Files\\Beta",
       {V::kAccepted, L"C:\\Program Files\\Beta"}},
      {"an existing folder of another user",
       [](SimulatedPlatform& sim) {
         Folder(sim, L"C:\\Program Files\\Beta", kUserB, kLockedDacl);
       },
       L"C:\\Program Files\\Beta",
       {V::kUntrustedOwner, L"C:\\Program Files\\Beta"}},
      {"row 1: msiexec would make D:\\Apps in the volume root",
       none,
       L"D:\\Apps\\Varn VPN\\",
       {V::kOthersCouldMakeIt, L"D:\\Apps"}},
      {"row 1: D:\\Apps made by an earlier install, as SYSTEM",
       [](SimulatedPlatform& sim) {
         sim.RunAs(kSystem,
                   [] { Os().CreateDirectoryW(L"D:\\Apps", nullptr); });
       },
       L"D:\\Apps\\Varn VPN\\",
       {V::kOthersCouldMakeIt, L"D:\\Apps"}},
      {"row 1: D:\\Apps renamed by a user, its own exe in its place",
       [](SimulatedPlatform& sim) {
         sim.RunAs(kB, [&] {
           Os().CreateDirectoryW(L"D:\\Apps", nullptr);
           Os().CreateDirectoryW(L"D:\\Apps\\Varn VPN", nullptr);
         });
         sim.AddFile(L"D:\\Apps\\Varn VPN\\varn_vpn.exe", "MZ").owner = kUserB;
       },
       L"D:\\Apps\\Varn VPN\\",
       {V::kOthersCouldMakeIt, L"D:\\Apps"}},
      {"row 2: made first by a user who keeps WRITE_DAC, then locked",
       [](SimulatedPlatform& sim) {
         SquatWithHandle(sim, L"D:\\Varn VPN", true);
       },
       L"D:\\Varn VPN\\",
       {V::kOthersCouldMakeIt, L"D:\\Varn VPN"}},
      {"row 2: the lock left the squatter its owner",
       [](SimulatedPlatform& sim) {
         SquatWithHandle(sim, L"D:\\Varn VPN", false);
       },
       L"D:\\Varn VPN\\",
       {V::kOthersCouldMakeIt, L"D:\\Varn VPN"}},
      {"inheritable entries let users write what is made below",
       [](SimulatedPlatform& sim) {
         Folder(sim, L"C:\\Program Files\\Shared", L"BA",
                std::wstring(kLockedDacl) + L"(A;OICIIO;0x1301BF;;;BU)");
       },
       L"C:\\Program Files\\Shared\\Varn VPN",
       {V::kWouldInheritUnprotected, L"C:\\Program Files\\Shared\\Varn VPN"}},
      {"a folder above lets users rename what is in it",
       [](SimulatedPlatform& sim) {
         Folder(sim, L"C:\\Program Files\\Open", L"BA",
                std::wstring(kLockedDacl) + L"(A;;0x40;;;BU)");
       },
       L"C:\\Program Files\\Open\\Varn VPN",
       {V::kFolderAboveUnprotected, L"C:\\Program Files\\Open"}},
      {"a junction on the way",
       [](SimulatedPlatform& sim) {
         sim.AddDirectory(L"C:\\Users\\b").owner = kUserB;
         sim.AddJunction(L"C:\\Program Files\\Link", L"C:\\Users\\b").owner =
             L"BA";
       },
       L"C:\\Program Files\\Link\\Varn VPN",
       {V::kNotPlainFolder, L"C:\\Program Files\\Link"}},
      {"a disk on a USB bus",
       [](SimulatedPlatform& sim) { sim.SetBusType(L'E', BusTypeUsb); },
       L"E:\\Program Files\\Varn VPN",
       {V::kUnsafePath, L"E:\\Program Files\\Varn VPN"}},
      {"a step up",
       none,
       L"C:\\Program Files\\..\\Users\\b",
       {V::kUnsafePath, L"C:\\Program Files\\..\\Users\\b"}},
      {"a network path",
       none,
       L"\\\\server\\share\\Varn VPN\\",
       {V::kUnsafePath, L"\\\\server\\share\\Varn VPN\\"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SimulatedPlatform sim;
    ClientMachine(sim);
    row.setup(sim);
    // As the deferred action runs it.
    sim.user() = kSystem;
    const InstallFolderCheck check = CheckInstallFolder(row.install_folder);
    const std::string line =
        testing::Narrow(DescribeInstallFolderCheck(row.install_folder, check));
    EXPECT_EQ(check.verdict, row.expected.verdict) << line;
    EXPECT_EQ(check.folder, row.expected.folder) << line;
    EXPECT_TRUE(sim.AllReleased()) << sim.LeakReport();
  }
}

// The installer mode's own check gets the same rule: no folder on the way
// that someone else could have made first.
TEST(InstallLocationTest, FoldersOthersCouldHaveMade) {
  struct Row {
    const char* name;
    std::function<void(SimulatedPlatform&)> setup;
    const wchar_t* exe;
    bool passes;
  };
  const Row rows[] = {
      {"Program Files under C:\\ (TrustedInstaller's)",
       [](SimulatedPlatform& sim) {
         Folder(sim, L"C:\\Program Files\\Varn VPN", L"BA", kLockedDacl);
       },
       L"C:\\Program Files\\Varn VPN\\varn_vpn.exe", true},
      {"the same folder owned by the Administrators",
       [](SimulatedPlatform& sim) {
         sim.FindNode(L"C:\\Program Files")->owner = L"BA";
         Folder(sim, L"C:\\Program Files\\Varn VPN", L"BA", kLockedDacl);
       },
       L"C:\\Program Files\\Varn VPN\\varn_vpn.exe", false},
      {"row 2: the app folder made first by a user, then locked",
       [](SimulatedPlatform& sim) {
         SquatWithHandle(sim, L"D:\\Varn VPN", true);
       },
       L"D:\\Varn VPN\\varn_vpn.exe", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SimulatedPlatform sim;
    ClientMachine(sim);
    row.setup(sim);
    SimulatedPlatform::Node& exe = sim.AddFile(row.exe, "MZ");
    exe.owner = L"BA";
    exe.dacl = testing::kProtectedFileDacl;
    sim.user().elevated = true;
    EXPECT_EQ(ProtectedExecutablePath(row.exe).empty(), !row.passes);
  }
}

}  // namespace
}  // namespace tunnel_control::testing
