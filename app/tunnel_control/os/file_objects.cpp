#include "app/tunnel_control/os/file_objects.h"

#include <cstring>
#include <cwctype>

namespace tunnel_control {
namespace {

constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

// Entry types whose trustee SID sits right after the mask.
bool HasPlainSid(BYTE type) {
  return type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_DENIED_ACE_TYPE ||
         type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
         type == ACCESS_DENIED_CALLBACK_ACE_TYPE;
}

// A drive letter's full path whose every part is a plain name: the native
// open takes the name as it is, with no "." or ".." resolved.
bool IsPlainDrivePath(const std::wstring& path) {
  if (path.size() < 4 || path.size() > 32000 || path[1] != L':' ||
      path[2] != L'\\' || !std::iswalpha(path[0])) {
    return false;
  }
  const std::wstring parts = path.substr(2) + L"\\";
  return parts.find(L'/') == std::wstring::npos &&
         parts.find(L"\\\\") == std::wstring::npos &&
         parts.find(L"\\.\\") == std::wstring::npos &&
         parts.find(L"\\..\\") == std::wstring::npos;
}

// The Win32 error for the native open's `status`, for the cases callers tell
// apart; any other failure reads as ERROR_OPEN_FAILED.
DWORD ErrorOf(NTSTATUS status) {
  switch (static_cast<unsigned long>(status)) {
    case 0xC0000043UL:  // STATUS_SHARING_VIOLATION
      return ERROR_SHARING_VIOLATION;
    case 0xC0000022UL:  // STATUS_ACCESS_DENIED
    case 0xC0000056UL:  // STATUS_DELETE_PENDING
      return ERROR_ACCESS_DENIED;
    case 0xC0000034UL:  // STATUS_OBJECT_NAME_NOT_FOUND
      return ERROR_FILE_NOT_FOUND;
    case 0xC000003AUL:  // STATUS_OBJECT_PATH_NOT_FOUND
      return ERROR_PATH_NOT_FOUND;
    default:
      return ERROR_OPEN_FAILED;
  }
}

std::wstring TrimSeparator(const std::wstring& path) {
  std::wstring trimmed = path;
  while (trimmed.size() > 2 && trimmed.back() == L'\\') trimmed.pop_back();
  return trimmed;
}

}  // namespace

bool IsAllowEntry(BYTE type) {
  return type == ACCESS_ALLOWED_ACE_TYPE ||
         type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
         type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
         type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
}

ScopedFileHandle OpenObject(const std::wstring& path, DWORD access,
                            DWORD share) {
  return ScopedFileHandle(Os().CreateFileW(
      path.c_str(), access, share, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

NativeName::NativeName(const std::wstring& path) : name_(L"\\??\\" + path) {
  text_.Buffer = name_.data();
  text_.Length = static_cast<USHORT>(name_.size() * sizeof(wchar_t));
  text_.MaximumLength = text_.Length;
  attributes_.Length = sizeof(attributes_);
  attributes_.ObjectName = &text_;
  attributes_.Attributes = OBJ_CASE_INSENSITIVE;
}

ScopedFileHandle OpenExactly(const std::wstring& path, DWORD access,
                             DWORD share) {
  if (!IsPlainDrivePath(path)) {
    ::SetLastError(ERROR_INVALID_NAME);
    return ScopedFileHandle();
  }
  NativeName name(path);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  // No synchronous-I/O option: it would need SYNCHRONIZE. Directories open
  // without backup intent, so no privilege adds to what the DACLs grant.
  const NTSTATUS status = Os().NtOpenFile(&handle, access, name.Attributes(),
                                          &io, share, FILE_OPEN_REPARSE_POINT);
  if (status < 0) {
    ::SetLastError(ErrorOf(status));
    return ScopedFileHandle();
  }
  ::SetLastError(0);
  return ScopedFileHandle(handle);
}

std::optional<ObjectFacts> QueryObject(HANDLE object) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  FILE_STANDARD_INFO standard{};
  if (!Os().GetFileInformationByHandleEx(object, FileAttributeTagInfo, &tag,
                                         sizeof(tag)) ||
      !Os().GetFileInformationByHandleEx(object, FileStandardInfo, &standard,
                                         sizeof(standard))) {
    return std::nullopt;
  }
  ObjectFacts facts;
  facts.directory = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  facts.reparse_point =
      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  facts.links = standard.NumberOfLinks;
  return facts;
}

std::wstring FinalPath(HANDLE object) {
  std::wstring buffer(MAX_PATH + 16, L'\0');
  const DWORD length = Os().GetFinalPathNameByHandleW(
      object, buffer.data(), static_cast<DWORD>(buffer.size()),
      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= buffer.size()) return std::wstring();
  buffer.resize(length);
  if (buffer.compare(0, 8, kLongUncPrefix) == 0) {
    return L"\\\\" + buffer.substr(8);
  }
  if (buffer.compare(0, 4, kLongPrefix) == 0) return buffer.substr(4);
  return buffer;
}

std::wstring SidString(const void* sid) {
  const auto* bytes = static_cast<const BYTE*>(sid);
  if (bytes == nullptr || bytes[0] != SID_REVISION ||
      bytes[1] > SID_MAX_SUB_AUTHORITIES) {
    return std::wstring();
  }
  ULONGLONG authority = 0;
  for (int i = 0; i < 6; ++i) authority = (authority << 8) | bytes[2 + i];
  std::wstring text = L"S-1-" + std::to_wstring(authority);
  for (int i = 0; i < bytes[1]; ++i) {
    DWORD sub = 0;
    std::memcpy(&sub, bytes + 8 + 4 * i, sizeof(sub));
    text += L"-" + std::to_wstring(sub);
  }
  return text;
}

std::optional<ObjectSecurity> ReadSecurity(HANDLE object) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  // The owner and the DACL point into the descriptor.
  ScopedLocalMemory<void> descriptor;
  const DWORD result = Os().GetSecurityInfo(
      object, SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
      &dacl, nullptr, descriptor.Put());
  if (result != ERROR_SUCCESS) return std::nullopt;
  ObjectSecurity security;
  security.owner = SidString(owner);
  if (dacl == nullptr) return security;
  security.has_dacl = true;
  security.dacl = AclEntries(dacl);
  return security;
}

std::vector<AccessEntry> AclEntries(const ACL* acl) {
  std::vector<AccessEntry> entries;
  const auto* base = reinterpret_cast<const BYTE*>(acl);
  size_t offset = sizeof(ACL);
  for (WORD i = 0; i < acl->AceCount; ++i) {
    ACE_HEADER header{};
    if (offset + sizeof(header) > acl->AclSize) break;
    std::memcpy(&header, base + offset, sizeof(header));
    if (header.AceSize < 8 || offset + header.AceSize > acl->AclSize) {
      entries.push_back({ACCESS_ALLOWED_ACE_TYPE, 0, GENERIC_ALL, L""});
      break;
    }
    AccessEntry entry;
    entry.type = header.AceType;
    entry.flags = header.AceFlags;
    std::memcpy(&entry.mask, base + offset + 4, sizeof(entry.mask));
    if (HasPlainSid(header.AceType) && header.AceSize >= 16) {
      const BYTE* sid = base + offset + 8;
      if (8 + 8 + 4u * sid[1] <= header.AceSize) entry.sid = SidString(sid);
    }
    entries.push_back(entry);
    offset += header.AceSize;
  }
  return entries;
}

std::optional<std::vector<AccessEntry>> DescriptorDacl(
    PSECURITY_DESCRIPTOR descriptor) {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!Os().GetSecurityDescriptorDacl(descriptor, &present, &dacl,
                                      &defaulted) ||
      !present || dacl == nullptr) {
    return std::nullopt;
  }
  return AclEntries(dacl);
}

bool DeleteObject(HANDLE object) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return Os().SetFileInformationByHandle(object, FileDispositionInfo,
                                         &disposition,
                                         sizeof(disposition)) != FALSE;
}

bool RenameObject(HANDLE object, const std::wstring& to, bool replace) {
  // The name follows the fixed part of the record; the record's own
  // one-character array leaves room for the terminator.
  const size_t bytes = sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(bytes, 0);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
  std::memcpy(rename->FileName, to.c_str(), to.size() * sizeof(wchar_t));
  return Os().SetFileInformationByHandle(object, FileRenameInfo, rename,
                                         static_cast<DWORD>(bytes)) != FALSE;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  const std::wstring x = TrimSeparator(a);
  const std::wstring y = TrimSeparator(b);
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i) {
    if (std::towlower(x[i]) != std::towlower(y[i])) return false;
  }
  return true;
}

}  // namespace tunnel_control
