// The install-location decision over plain owner and ACL data.
#include "app/tunnel_control/installer/install_location.h"

#include <gtest/gtest.h>

#include "app/tunnel_control/os/well_known_sids.h"

namespace tunnel_control {
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

}  // namespace
}  // namespace tunnel_control
