#include "app/tunnel_control/installer/data_directory_security.h"

namespace tunnel_control {
namespace {

constexpr wchar_t kOwner[] = L"O:BA";

// SYSTEM and the Administrators own the directory and all it holds.
constexpr wchar_t kDirectoryAdministrators[] =
    L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// The user's own entry on the directory (0x1200AB: list, add file, read
// attributes and extended attributes, traverse, read permissions,
// synchronize); it comes last.
std::wstring DirectoryUserEntry(const std::wstring& user_sid) {
  return L"(A;;0x1200AB;;;" + user_sid + L")";
}

// A file made in the directory gives its creator modify rights (0x1301BF)
// through CREATOR OWNER and the user read rights.
std::wstring FileEntries(const std::wstring& user_sid) {
  return L"(A;OIIO;0x1301BF;;;CO)(A;OIIO;FR;;;" + user_sid + L")";
}

}  // namespace

std::wstring DataDirectoryDacl(const std::wstring& user_sid) {
  return kDirectoryAdministrators + DirectoryUserEntry(user_sid) +
         FileEntries(user_sid);
}

std::wstring LockedDataDirectoryDacl(const std::wstring& user_sid) {
  return kDirectoryAdministrators + FileEntries(user_sid);
}

std::wstring DataDirectorySddl(const std::wstring& user_sid) {
  return kOwner + DataDirectoryDacl(user_sid);
}

std::wstring LockedDataDirectorySddl(const std::wstring& user_sid) {
  return kOwner + LockedDataDirectoryDacl(user_sid);
}

std::wstring TunnelLogSddl(const std::wstring& user_sid) {
  return kAdministratorsOnlySddl + (L"(A;;FR;;;" + user_sid + L")");
}

}  // namespace tunnel_control
