// Files and directories reached through one handle, so that a check and the
// change after it act on the same object even when someone swaps a name in
// between.
#ifndef APP_TUNNEL_CONTROL_OS_FILE_OBJECTS_H_
#define APP_TUNNEL_CONTROL_OS_FILE_OBJECTS_H_

#include <optional>
#include <string>
#include <vector>

#include "app/tunnel_control/os/scoped_handles.h"

namespace tunnel_control {

// One entry of a DACL. `sid` is empty for entry types whose trustee is not
// read (object and compound entries).
struct AccessEntry {
  BYTE type = 0;
  BYTE flags = 0;
  DWORD mask = 0;
  std::wstring sid;

  bool operator==(const AccessEntry&) const = default;
};

// True for the entry types that grant access: the plain, object and
// callback allow entries.
bool IsAllowEntry(BYTE type);

// An object's owner and DACL. Without a DACL everyone has full access.
struct ObjectSecurity {
  std::wstring owner;
  bool has_dacl = false;
  std::vector<AccessEntry> dacl;
};

// What the handle refers to.
struct ObjectFacts {
  bool directory = false;
  bool reparse_point = false;
  DWORD links = 0;
};

// Opens `path` itself, also a directory: a junction, mount point or link at
// the end is opened, not followed.
ScopedFileHandle OpenObject(const std::wstring& path, DWORD access,
                            DWORD share);

// What the native open calls take for `path` (a full path with a drive
// letter): its "\\??\\" name, matched without regard to case.
class NativeName {
 public:
  explicit NativeName(const std::wstring& path);
  NativeName(const NativeName&) = delete;
  NativeName& operator=(const NativeName&) = delete;

  OBJECT_ATTRIBUTES* Attributes() { return &attributes_; }

 private:
  std::wstring name_;
  UNICODE_STRING text_{};
  OBJECT_ATTRIBUTES attributes_{};
};

// Opens `path` itself (a full path with a drive letter), never following a
// link, with exactly `access`: CreateFileW adds SYNCHRONIZE, which only the
// object's own DACL can grant, while DELETE and FILE_READ_ATTRIBUTES also
// come from its folder's delete-child and list rights. The handle serves
// queries and changes of the object's information, which are synchronous
// on any handle; it is no handle to read, write or wait on.
ScopedFileHandle OpenExactly(const std::wstring& path, DWORD access,
                             DWORD share);

std::optional<ObjectFacts> QueryObject(HANDLE object);

// The object's final path without the "\\?\" prefix ("\\?\UNC\" becomes
// "\\"), or an empty string.
std::wstring FinalPath(HANDLE object);

// Owner and DACL of an object opened with READ_CONTROL.
std::optional<ObjectSecurity> ReadSecurity(HANDLE object);

// The entries of `acl`, walked inside the ACL's own size; a malformed entry
// ends the walk as one granting everything to a trustee nobody can read.
std::vector<AccessEntry> AclEntries(const ACL* acl);

// The DACL entries of the self-relative `descriptor`, or nullopt when it
// cannot be read or the descriptor has none.
std::optional<std::vector<AccessEntry>> DescriptorDacl(
    PSECURITY_DESCRIPTOR descriptor);

// Deletes the object opened with DELETE (a link, not its target).
bool DeleteObject(HANDLE object);

// Renames the object opened with DELETE to the full path `to`. Without
// `replace` never over an existing name (ERROR_ALREADY_EXISTS then); with it
// an existing file at `to` is replaced in one step, unless someone has that
// file open (ERROR_ACCESS_DENIED then).
bool RenameObject(HANDLE object, const std::wstring& to, bool replace = false);

// Text form "S-1-5-..." of a binary SID.
std::wstring SidString(const void* sid);

// Whether two paths name the same place, ignoring case and a trailing
// separator.
bool SamePath(const std::wstring& a, const std::wstring& b);

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_OS_FILE_OBJECTS_H_
