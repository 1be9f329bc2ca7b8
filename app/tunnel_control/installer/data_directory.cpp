#include "app/tunnel_control/installer/data_directory.h"

#include <optional>
#include <string_view>
#include <utility>

#include "app/tunnel_control/common/tunnel_names.h"
#include "app/tunnel_control/common/tunnel_paths.h"
#include "app/tunnel_control/os/file_objects.h"
#include "app/tunnel_control/os/platform.h"
#include "app/tunnel_control/os/random_text.h"
#include "app/tunnel_control/os/scoped_handles.h"
#include "app/tunnel_control/os/well_known_sids.h"

namespace tunnel_control {
namespace {

constexpr char kMarkerText[] =
    "This folder belongs to the Varn VPN tunnel service.\r\n";

constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// How the installer holds the data directory: listing and deletion take part
// in share checks, so while the handle is open nobody else can open the
// directory for writing or deleting, and so neither mount nor rename it.
constexpr DWORD kHoldAccess = DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER |
                              FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES |
                              SYNCHRONIZE;
constexpr DWORD kHoldShare = FILE_SHARE_READ;

// Rounds of "create, or move the name's holder aside": anyone may create a
// folder in %ProgramData%, so the name can be taken again in between.
constexpr int kRounds = 3;

// The descriptor `sddl` describes, or none when it does not convert.
ScopedLocalMemory<void> DescriptorOf(const std::wstring& sddl) {
  ScopedLocalMemory<void> descriptor;
  if (!Os().ConvertStringSecurityDescriptorToSecurityDescriptorW(
          sddl.c_str(), SDDL_REVISION_1, descriptor.Put(), nullptr)) {
    return {};
  }
  return descriptor;
}

// Sets the protected DACL of `descriptor`, and its owner when `with_owner`,
// on the open object itself. Nothing passes on to what a directory holds:
// each file keeps its own security, hard-linked files included.
bool SetOwnSecurity(HANDLE object, PSECURITY_DESCRIPTOR descriptor,
                    bool with_owner) {
  SECURITY_INFORMATION info =
      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
  if (with_owner) info |= OWNER_SECURITY_INFORMATION;
  return Os().SetKernelObjectSecurity(object, info, descriptor) != FALSE;
}

// A directory, no link, at `path` itself.
bool IsRealDirectory(HANDLE object, const std::wstring& path) {
  const std::optional<ObjectFacts> facts = QueryObject(object);
  return facts && facts->directory && !facts->reparse_point &&
         SamePath(FinalPath(object), path);
}

// A plain file with one name.
bool IsPlainFile(const std::optional<ObjectFacts>& facts) {
  return facts && !facts->directory && !facts->reparse_point &&
         facts->links == 1;
}

// True when the locked `directory` holds the marker and otherwise only plain,
// single-named files of SYSTEM, the Administrators or `user_sid`, the marker
// and the log being SYSTEM's or the Administrators'.
bool HoldsOnlyOurFiles(const std::wstring& directory,
                       const std::wstring& user_sid) {
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = directory + L"\\*";
  ScopedFindHandle search(Os().FindFirstFileW(pattern.c_str(), &found));
  if (!search) return false;
  bool marker = false;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    ScopedFileHandle entry =
        OpenObject(directory + L"\\" + name,
                   READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll);
    if (!entry) return false;
    const std::optional<ObjectSecurity> security = ReadSecurity(entry.Get());
    if (!IsPlainFile(QueryObject(entry.Get())) || !security) return false;
    const bool trusted = IsSystemOrAdministrators(security->owner);
    const bool ours =
        SamePath(name, kDirectoryMarkerName) || SamePath(name, kTunnelLogName);
    if (!trusted && (ours || security->owner != user_sid)) return false;
    // A configuration the user does not own, the user cannot replace: kept,
    // it would make every later connect fail and ask for elevation again.
    if (SamePath(name, kConfigFileName) && security->owner != user_sid) {
      return false;
    }
    marker = marker || SamePath(name, kDirectoryMarkerName);
  } while (Os().FindNextFileW(search.Get(), &found));
  return ::GetLastError() == ERROR_NO_MORE_FILES && marker;
}

// Removes what the locked folder `aside` holds, and then the folder, where
// that is safe: each name is opened without following a link and deleted by
// handle only when it really sits in `aside`. What cannot go (a non-empty
// subfolder, a file held open without delete sharing) stays, readable by
// nobody new.
void ClearAside(HANDLE held, const std::wstring& aside) {
  if (!SamePath(FinalPath(held), aside)) return;
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = aside + L"\\*";
  ScopedFindHandle search(Os().FindFirstFileW(pattern.c_str(), &found));
  if (search) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = aside + L"\\" + name;
      // A previous user's file may name only that user; the folder's
      // delete-child right still lets the administrators delete it.
      ScopedFileHandle entry =
          OpenExactly(path, DELETE | FILE_READ_ATTRIBUTES, kShareAll);
      if (entry && SamePath(FinalPath(entry.Get()), path)) {
        DeleteObject(entry.Get());
      }
    } while (Os().FindNextFileW(search.Get(), &found));
  }
  DeleteObject(held);
}

// Renames the object behind `held` to an unguessable name beside
// `directory`; when `clear`, then removes what it held where that is safe.
bool MoveAside(HANDLE held, const std::wstring& directory, bool clear) {
  for (int attempt = 0; attempt < kRounds; ++attempt) {
    const std::wstring suffix = RandomHex();
    if (suffix.empty()) return false;
    const std::wstring aside = directory + kAsideInfix + suffix;
    if (RenameObject(held, aside)) {
      if (clear) ClearAside(held, aside);
      return true;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

struct Existing {
  Found found;
  ScopedFileHandle handle;
};

// Opens the existing entry at `directory` itself, never following a link,
// and learns what ClassifyExisting needs to decide what it is. A directory
// of SYSTEM or the Administrators is locked first, so nothing changes in it
// while it is inspected.
Existing OpenExisting(const std::wstring& directory,
                      const std::wstring& user_sid,
                      const std::vector<AccessEntry>& ours,
                      PSECURITY_DESCRIPTOR locked) {
  ExistingFacts facts;
  ScopedFileHandle held = OpenObject(directory, kHoldAccess, kHoldShare);
  ScopedFileHandle movable;
  facts.held = held.IsValid();
  if (!held) {
    facts.sharing_violation = ::GetLastError() == ERROR_SHARING_VIOLATION;
    // Someone else's object may shut the administrators out of it, even of
    // SYNCHRONIZE; the program-data folder's delete-child and list rights
    // still let them name and move it, through a handle that holds nothing
    // else and never enters it.
    if (!facts.sharing_violation) {
      movable =
          OpenExactly(directory, DELETE | FILE_READ_ATTRIBUTES, kHoldShare);
      facts.movable = movable.IsValid();
    }
  } else {
    facts.object = QueryObject(held.Get());
    facts.at_name = SamePath(FinalPath(held.Get()), directory);
    facts.security = ReadSecurity(held.Get());
  }
  for (;;) {
    const Found found = ClassifyExisting(facts, ours);
    switch (found) {
      case Found::kToLock:
        facts.locked = SetOwnSecurity(held.Get(), locked, true);
        continue;
      case Found::kToList:
        facts.only_our_files = HoldsOnlyOurFiles(directory, user_sid);
        continue;
      case Found::kKeep:
      case Found::kAside:
      case Found::kAsideOurs:
        return {found, held ? std::move(held) : std::move(movable)};
      case Found::kBusy:
      case Found::kNotAt:
      case Found::kNotSecured:
        return {found, {}};
    }
  }
}

// Creates a file of its own security in the locked `directory`. One that
// exists is the one a kept directory was checked to hold.
bool PlaceFile(const std::wstring& directory, const wchar_t* name,
               const std::wstring& sddl, std::string_view text) {
  const ScopedLocalMemory<void> descriptor = DescriptorOf(sddl);
  if (!descriptor) return false;
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.Get(), FALSE};
  const std::wstring path = directory + L"\\" + name;
  ScopedFileHandle file(Os().CreateFileW(path.c_str(), GENERIC_WRITE, 0,
                                         &attributes, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return ::GetLastError() == ERROR_FILE_EXISTS;
  DWORD written = 0;
  if (!text.empty()) {
    Os().WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()),
                   &written, nullptr);
  }
  return true;
}

// Folders nested deeper than this in a folder being removed stay: the data
// directory never holds folders, and an aside folder only what it held.
constexpr int kRemovalDepth = 8;

// Empties and deletes the folder `path`, held through `held` (kHoldAccess,
// kHoldShare) and already checked to be a real folder at that path.
FolderRemoval EmptyAndDelete(HANDLE held, const std::wstring& path,
                             PSECURITY_DESCRIPTOR locked, int depth) {
  if (!SetOwnSecurity(held, locked, true)) return FolderRemoval::kIncomplete;
  bool complete = true;
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = path + L"\\*";
  ScopedFindHandle search(Os().FindFirstFileW(pattern.c_str(), &found));
  if (search) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      ScopedFileHandle entry = OpenObject(child, kHoldAccess, kHoldShare);
      if (!entry) {
        // A name that shuts the Administrators out, even of SYNCHRONIZE,
        // can still go: the held folder grants them delete-child and list.
        entry = OpenExactly(child, DELETE | FILE_READ_ATTRIBUTES, kHoldShare);
      }
      const std::optional<ObjectFacts> facts =
          entry ? QueryObject(entry.Get()) : std::nullopt;
      if (!facts || !SamePath(FinalPath(entry.Get()), child)) {
        complete = false;
        continue;
      }
      if (facts->directory && !facts->reparse_point) {
        if (depth >= kRemovalDepth ||
            EmptyAndDelete(entry.Get(), child, locked, depth + 1) !=
                FolderRemoval::kRemoved) {
          complete = false;
        }
      } else if (!DeleteObject(entry.Get())) {
        complete = false;
      }
    } while (Os().FindNextFileW(search.Get(), &found));
  }
  if (!complete || !DeleteObject(held)) return FolderRemoval::kIncomplete;
  return FolderRemoval::kRemoved;
}

// Removes the folder at `path` when SYSTEM or the Administrators own it.
RemovedFolder RemoveOurFolder(const std::wstring& path,
                              PSECURITY_DESCRIPTOR locked) {
  RemovedFolder result{path, FolderRemoval::kBusy, L""};
  {
    // A first look, sharing everything, tells someone else's folder from a
    // busy one even when its access list keeps SYSTEM from holding it.
    ScopedFileHandle look = OpenObject(
        path, READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareAll);
    const std::optional<ObjectFacts> facts =
        look ? QueryObject(look.Get()) : std::nullopt;
    const std::optional<ObjectSecurity> security =
        look ? ReadSecurity(look.Get()) : std::nullopt;
    if (facts && (!facts->directory || facts->reparse_point)) {
      result.outcome = FolderRemoval::kNotFolder;
      return result;
    }
    if (security && !IsSystemOrAdministrators(security->owner)) {
      result.outcome = FolderRemoval::kNotOurs;
      result.owner = security->owner;
      return result;
    }
  }
  // Checked again on the handle that holds it, which nobody can swap.
  ScopedFileHandle held = OpenObject(path, kHoldAccess, kHoldShare);
  if (!held) return result;
  const std::optional<ObjectFacts> facts = QueryObject(held.Get());
  if (!facts || !facts->directory || facts->reparse_point) {
    result.outcome = FolderRemoval::kNotFolder;
    return result;
  }
  if (!SamePath(FinalPath(held.Get()), path)) return result;
  const std::optional<ObjectSecurity> security = ReadSecurity(held.Get());
  if (!security || !IsSystemOrAdministrators(security->owner)) {
    result.outcome = FolderRemoval::kNotOurs;
    result.owner = security ? security->owner : L"";
    return result;
  }
  result.outcome = EmptyAndDelete(held.Get(), path, locked, 0);
  return result;
}

}  // namespace

std::vector<RemovedFolder> RemoveDataDirectories() {
  std::vector<RemovedFolder> removed;
  const std::wstring directory = DataDirectoryPath();
  const ScopedLocalMemory<void> locked = DescriptorOf(kRemovalSddl);
  if (directory.empty() || !locked) return removed;
  const size_t slash = directory.find_last_of(L'\\');
  const std::wstring parent = directory.substr(0, slash);
  const std::wstring aside_prefix = directory.substr(slash + 1) + kAsideInfix;
  // Every name is listed, so the aside folders' long names are compared,
  // never a pattern that short names could match too.
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = parent + L"\\*";
  ScopedFindHandle search(Os().FindFirstFileW(pattern.c_str(), &found));
  if (!search) return removed;
  do {
    const std::wstring name = found.cFileName;
    const bool aside =
        name.size() > aside_prefix.size() &&
        SamePath(name.substr(0, aside_prefix.size()), aside_prefix);
    if (aside || SamePath(parent + L"\\" + name, directory)) {
      removed.push_back(RemoveOurFolder(parent + L"\\" + name, locked.Get()));
    }
  } while (Os().FindNextFileW(search.Get(), &found));
  return removed;
}

Found ClassifyExisting(const ExistingFacts& facts,
                       const std::vector<AccessEntry>& ours) {
  if (!facts.held) {
    return facts.movable && !facts.sharing_violation ? Found::kAside
                                                     : Found::kBusy;
  }
  const std::optional<ObjectFacts>& object = facts.object;
  if (!object || !object->directory || object->reparse_point) {
    return Found::kAside;
  }
  if (!facts.at_name) return Found::kNotAt;
  const std::optional<ObjectSecurity>& security = facts.security;
  if (!security || !IsSystemOrAdministrators(security->owner)) {
    return Found::kAside;
  }
  if (!facts.locked) return Found::kToLock;
  if (!*facts.locked) return Found::kNotSecured;
  if (!security->has_dacl || security->dacl != ours) return Found::kAsideOurs;
  if (!facts.only_our_files) return Found::kToList;
  return *facts.only_our_files ? Found::kKeep : Found::kAsideOurs;
}

DirectoryResult PrepareDataDirectory(const std::wstring& directory,
                                     const std::wstring& user_sid) {
  const ScopedLocalMemory<void> locked =
      DescriptorOf(LockedDataDirectorySddl(user_sid));
  const ScopedLocalMemory<void> granted =
      DescriptorOf(DataDirectorySddl(user_sid));
  if (!locked || !granted) return DirectoryResult::kNotSecured;
  // What Windows reads back from a directory that carries `granted`.
  const std::optional<std::vector<AccessEntry>> ours =
      DescriptorDacl(granted.Get());
  if (!ours) return DirectoryResult::kNotSecured;
  for (int round = 0; round < kRounds; ++round) {
    // A new directory grants the user nothing from the moment it exists.
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), locked.Get(), FALSE};
    ScopedFileHandle held;
    if (Os().CreateDirectoryW(directory.c_str(), &attributes)) {
      held = OpenObject(directory, kHoldAccess, kHoldShare);
      if (!held || !IsRealDirectory(held.Get(), directory)) {
        return DirectoryResult::kRefused;
      }
    } else {
      if (::GetLastError() != ERROR_ALREADY_EXISTS) {
        return DirectoryResult::kRefused;
      }
      Existing existing =
          OpenExisting(directory, user_sid, *ours, locked.Get());
      switch (existing.found) {
        case Found::kKeep:
          held = std::move(existing.handle);
          break;
        case Found::kAside:
        case Found::kAsideOurs:
          if (!MoveAside(existing.handle.Get(), directory,
                         existing.found == Found::kAsideOurs)) {
            return DirectoryResult::kRefused;
          }
          continue;
        case Found::kBusy:
        case Found::kNotAt:
          return DirectoryResult::kRefused;
        case Found::kNotSecured:
        case Found::kToLock:  // never returned: OpenExisting learns those
        case Found::kToList:
          return DirectoryResult::kNotSecured;
      }
    }
    // The user's entry comes last, on the held handle: until then nobody
    // but SYSTEM and the Administrators can add to the directory.
    if (!PlaceFile(directory, kDirectoryMarkerName, kDirectoryMarkerSddl,
                   kMarkerText) ||
        !PlaceFile(directory, kTunnelLogName, TunnelLogSddl(user_sid), "") ||
        !SetOwnSecurity(held.Get(), granted.Get(), false)) {
      return DirectoryResult::kNotSecured;
    }
    return DirectoryResult::kReady;
  }
  return DirectoryResult::kRefused;
}

DWORD DeleteConfigInDataDirectory() {
  const std::wstring directory = DataDirectoryPath();
  if (directory.empty()) return ERROR_SUCCESS;
  // Held open while the file goes, so the directory cannot be swapped.
  ScopedFileHandle real =
      OpenObject(directory, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                 FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!real || !IsRealDirectory(real.Get(), directory)) return ERROR_SUCCESS;
  ScopedFileHandle config =
      OpenObject(ConfigFilePath(), DELETE | FILE_READ_ATTRIBUTES, kShareAll);
  if (!config) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
  }
  return DeleteObject(config.Get()) ? ERROR_SUCCESS : ::GetLastError();
}

}  // namespace tunnel_control
