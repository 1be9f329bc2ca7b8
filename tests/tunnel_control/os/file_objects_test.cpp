// The DACL walk over hand-built ACL bytes: what each entry reads as, and how
// a malformed one ends the walk.
#include "app/tunnel_control/os/file_objects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace tunnel_control::testing {
namespace {

using Bytes = std::vector<BYTE>;

// A SID of authority 5 with `subs`, in Windows' binary layout.
Bytes Sid(std::vector<DWORD> subs) {
  Bytes sid(8 + 4 * subs.size(), 0);
  sid[0] = SID_REVISION;
  sid[1] = static_cast<BYTE>(subs.size());
  sid[7] = 5;
  for (size_t i = 0; i < subs.size(); ++i) {
    std::memcpy(sid.data() + 8 + 4 * i, &subs[i], 4);
  }
  return sid;
}

// One entry: header, mask and trustee; `size` overrides the header's size.
Bytes Ace(BYTE type, DWORD mask, const Bytes& sid, WORD size = 0) {
  Bytes ace(8 + sid.size(), 0);
  ace[0] = type;
  ace[1] = OBJECT_INHERIT_ACE;
  std::memcpy(ace.data() + 4, &mask, 4);
  std::copy(sid.begin(), sid.end(), ace.begin() + 8);
  const WORD stated = size ? size : static_cast<WORD>(ace.size());
  std::memcpy(ace.data() + 2, &stated, 2);
  return ace;
}

// An ACL holding `aces`; `count` overrides the number of entries it states.
Bytes Acl(const std::vector<Bytes>& aces, int count = -1) {
  size_t total = sizeof(ACL);
  for (const Bytes& ace : aces) total += ace.size();
  Bytes acl(total, 0);
  acl[0] = ACL_REVISION;
  size_t at = sizeof(ACL);
  for (const Bytes& ace : aces) {
    std::copy(ace.begin(), ace.end(), acl.begin() + at);
    at += ace.size();
  }
  const WORD size = static_cast<WORD>(acl.size());
  const WORD stated = static_cast<WORD>(count < 0 ? aces.size() : count);
  std::memcpy(acl.data() + 2, &size, 2);
  std::memcpy(acl.data() + 4, &stated, 2);
  return acl;
}

TEST(AclEntriesTest, ReadsEachEntryAndEndsAtAMalformedOneAsGrantingAll) {
  constexpr BYTE kAllow = ACCESS_ALLOWED_ACE_TYPE;
  constexpr BYTE kDeny = ACCESS_DENIED_ACE_TYPE;
  constexpr BYTE kOi = OBJECT_INHERIT_ACE;
  // What a malformed entry reads as: everything, to nobody anyone can read.
  const AccessEntry all{kAllow, 0, GENERIC_ALL, L""};
  const Bytes system = Sid({18});
  const Bytes admins = Sid({32, 544});
  struct Case {
    const char* name;
    Bytes acl;
    std::vector<AccessEntry> entries;
  };
  const Case cases[] = {
      {"empty", Acl({}), {}},
      {"allow and deny",
       Acl({Ace(kAllow, FILE_ALL_ACCESS, system), Ace(kDeny, DELETE, admins)}),
       {{kAllow, kOi, FILE_ALL_ACCESS, L"S-1-5-18"},
        {kDeny, kOi, DELETE, L"S-1-5-32-544"}}},
      {"callback entry keeps its trustee",
       Acl({Ace(ACCESS_ALLOWED_CALLBACK_ACE_TYPE, WRITE_DAC, system)}),
       {{ACCESS_ALLOWED_CALLBACK_ACE_TYPE, kOi, WRITE_DAC, L"S-1-5-18"}}},
      {"object entry: trustee not read",
       Acl({Ace(ACCESS_ALLOWED_OBJECT_ACE_TYPE, WRITE_DAC, system)}),
       {{ACCESS_ALLOWED_OBJECT_ACE_TYPE, kOi, WRITE_DAC, L""}}},
      {"trustee longer than its entry",
       Acl({Ace(kAllow, FILE_ALL_ACCESS, system, 16)}, 1),
       {{kAllow, kOi, FILE_ALL_ACCESS, L""}}},
      {"entry shorter than a header and a mask",
       Acl({Ace(kAllow, FILE_ALL_ACCESS, system, 4),
            Ace(kDeny, DELETE, admins)}),
       {all}},
      {"entry past the ACL's end",
       Acl({Ace(kDeny, DELETE, admins), Ace(kAllow, 0, system, 200)}),
       {{kDeny, kOi, DELETE, L"S-1-5-32-544"}, all}},
      {"more entries stated than held",
       Acl({Ace(kDeny, DELETE, admins)}, 3),
       {{kDeny, kOi, DELETE, L"S-1-5-32-544"}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AclEntries(reinterpret_cast<const ACL*>(c.acl.data())), c.entries)
        << c.name;
  }
}

}  // namespace
}  // namespace tunnel_control::testing
