#include "tests/tunnel_control/support/simulated_platform.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <sstream>

#include "app/tunnel_control/os/known_folders.h"

namespace tunnel_control::testing {
namespace {

SimulatedPlatform* current_simulation = nullptr;

constexpr wchar_t kProgramFilesPath[] = L"C:\\Program Files";

std::wstring Lower(const std::wstring& text) {
  std::wstring lower = text;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  return lower;
}

// The node key of a path: lower case, no trailing separator.
std::wstring PathKey(const std::wstring& path) {
  std::wstring key = Lower(path);
  while (key.size() > 2 && key.back() == L'\\') key.pop_back();
  return key;
}

std::wstring ParentOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// A drive root such as "c:" always exists as a directory.
bool IsDriveRoot(const std::wstring& key) {
  return key.size() == 2 && key[1] == L':';
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%llX",
                static_cast<unsigned long long>(value));
  return text;
}

std::string Quote(const wchar_t* text) {
  return text == nullptr ? std::string("null") : "\"" + Narrow(text) + "\"";
}

// The DACL the service manager gives a service created without one.
constexpr wchar_t kDefaultServiceSddl[] =
    L"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
    L"(A;;CCLCSWLOCRRC;;;IU)(A;;CCLCSWLOCRRC;;;SU)";

// The volume GUID path the simulation gives the volume of `drive`.
std::wstring VolumeGuidPath(wchar_t drive) {
  wchar_t text[64];
  std::swprintf(text, 64, L"\\\\?\\Volume{%08x-0000-0000-0000-000000000000}\\",
                static_cast<unsigned>(std::towupper(drive)));
  return text;
}

// Checks an ACL part "D:flags(ace)(ace)..."; returns an error or 0.
DWORD CheckAcl(const std::wstring& acl) {
  size_t pos = 2;
  while (pos < acl.size() && acl[pos] != L'(') {
    if (std::wstring(L"PAIRNO").find(acl[pos]) == std::wstring::npos) {
      return ERROR_INVALID_PARAMETER;
    }
    ++pos;
  }
  while (pos < acl.size()) {
    if (acl[pos] != L'(') return ERROR_INVALID_PARAMETER;
    const size_t close = acl.find(L')', pos);
    if (close == std::wstring::npos) return ERROR_INVALID_PARAMETER;
    const std::vector<std::wstring> fields =
        SplitFields(acl.substr(pos + 1, close - pos - 1));
    if (fields.size() != 6) return ERROR_INVALID_PARAMETER;
    if (fields[0] != L"A" && fields[0] != L"D") return ERROR_INVALID_PARAMETER;
    if (!ParseRights(fields[2])) return ERROR_INVALID_PARAMETER;
    if (!ParseSid(fields[5])) return ERROR_INVALID_SID;
    pos = close + 1;
  }
  return 0;
}

// Rights as SDDL writes a mask it has no code for.
std::wstring RightsText(DWORD rights) {
  wchar_t text[16];
  std::swprintf(text, 16, L"0x%lX", static_cast<unsigned long>(rights));
  return text;
}

// The inheritance flags of an SDDL ACE ("OICIIOID").
BYTE ParseAceFlags(const std::wstring& flags) {
  BYTE result = 0;
  for (size_t i = 0; i + 1 < flags.size(); i += 2) {
    const std::wstring flag = flags.substr(i, 2);
    if (flag == L"OI") result |= OBJECT_INHERIT_ACE;
    if (flag == L"CI") result |= CONTAINER_INHERIT_ACE;
    if (flag == L"NP") result |= NO_PROPAGATE_INHERIT_ACE;
    if (flag == L"IO") result |= INHERIT_ONLY_ACE;
    if (flag == L"ID") result |= INHERITED_ACE;
  }
  return result;
}

// The ACL flags of an SDDL DACL ("D:PAI(...)": "PAI").
std::wstring AclFlags(const std::wstring& dacl) {
  const size_t open = dacl.find(L'(');
  return dacl.size() < 2
             ? std::wstring()
             : dacl.substr(2, open == std::wstring::npos ? std::wstring::npos
                                                         : open - 2);
}

bool IsProtectedDacl(const std::wstring& dacl) {
  return AclFlags(dacl).find(L'P') != std::wstring::npos;
}

// The entries a new child of a directory with `parent_dacl` inherits, as
// SDDL ACEs with the ID flag. Empty when the parent has no DACL.
std::vector<std::wstring> InheritedAces(const std::wstring& parent_dacl,
                                        bool child_is_directory,
                                        const std::wstring& creator) {
  std::vector<std::wstring> aces;
  for (const std::wstring& ace : SddlAces(parent_dacl)) {
    const std::vector<std::wstring> f = SplitFields(ace);
    if (f.size() != 6) continue;
    const bool oi = HasAceFlag(f[1], L"OI");
    const bool ci = HasAceFlag(f[1], L"CI");
    const bool np = HasAceFlag(f[1], L"NP");
    std::wstring flags;
    if (child_is_directory) {
      if (!oi && !ci) continue;
      if (!np) {
        if (oi) flags += L"OI";
        if (ci) flags += L"CI";
        if (!ci) flags += L"IO";  // only passed on to files below
      }
      if (!ci && np) continue;
    } else if (!oi) {
      continue;
    }
    const bool creator_owner = f[5] == L"CO" || f[5] == L"S-1-3-0";
    const DWORD rights = ParseRights(f[2]).value_or(0);
    // An entry naming CREATOR OWNER or generic rights splits in two: the
    // creator with the rights mapped on the child itself, and the entry as
    // it was, inherit-only, below it ([MS-DTYP] 2.5.3.4.3
    // ComputeInheritedACLfromParent).
    const bool splits = creator_owner || rights != MapGenericFileRights(rights);
    if (splits && (child_is_directory ? ci : oi) &&
        !(creator_owner && creator.empty())) {
      const DWORD mapped = MapGenericFileRights(rights);
      aces.push_back(f[0] + L";ID;" +
                     (mapped == FILE_ALL_ACCESS ? std::wstring(L"FA")
                                                : RightsText(mapped)) +
                     L";" + f[3] + L";" + f[4] + L";" +
                     (creator_owner ? creator : f[5]));
    }
    if (splits && (!child_is_directory || np)) continue;
    if (splits && flags.find(L"IO") == std::wstring::npos) flags += L"IO";
    flags += L"ID";
    aces.push_back(f[0] + L";" + flags + L";" + f[2] + L";" + f[3] + L";" +
                   f[4] + L";" + f[5]);
  }
  return aces;
}

std::wstring JoinDacl(const std::wstring& flags,
                      const std::vector<std::wstring>& aces) {
  std::wstring dacl = L"D:" + flags;
  for (const std::wstring& ace : aces) dacl += L"(" + ace + L")";
  return dacl;
}

// A self-relative security descriptor in Windows' binary layout, so code
// under test walks real ACLs.
std::vector<unsigned char> BuildDescriptor(const std::wstring& owner,
                                           const std::wstring& dacl) {
  std::vector<unsigned char> bytes(sizeof(SECURITY_DESCRIPTOR_RELATIVE), 0);
  WORD control = SE_SELF_RELATIVE;
  DWORD owner_offset = 0;
  DWORD dacl_offset = 0;
  if (auto sid = ParseSid(owner)) {
    owner_offset = static_cast<DWORD>(bytes.size());
    bytes.insert(bytes.end(), sid->begin(), sid->end());
  }
  if (!dacl.empty()) {
    control |= SE_DACL_PRESENT;
    if (IsProtectedDacl(dacl)) control |= SE_DACL_PROTECTED;
    if (AclFlags(dacl).find(L"AI") != std::wstring::npos) {
      control |= SE_DACL_AUTO_INHERITED;
    }
    dacl_offset = static_cast<DWORD>(bytes.size());
    std::vector<unsigned char> acl(sizeof(ACL), 0);
    WORD count = 0;
    for (const std::wstring& ace : SddlAces(dacl)) {
      const std::vector<std::wstring> f = SplitFields(ace);
      auto sid = f.size() == 6 ? ParseSid(f[5]) : std::nullopt;
      if (!sid) continue;
      const WORD size = static_cast<WORD>(8 + sid->size());
      unsigned char header[8] = {};
      header[0] =
          f[0] == L"D" ? ACCESS_DENIED_ACE_TYPE : ACCESS_ALLOWED_ACE_TYPE;
      header[1] = ParseAceFlags(f[1]);
      std::memcpy(header + 2, &size, 2);
      const DWORD mask = ParseRights(f[2]).value_or(0);
      std::memcpy(header + 4, &mask, 4);
      acl.insert(acl.end(), header, header + 8);
      acl.insert(acl.end(), sid->begin(), sid->end());
      ++count;
    }
    ACL header{};
    header.AclRevision = ACL_REVISION;
    header.AclSize = static_cast<WORD>(acl.size());
    header.AceCount = count;
    std::memcpy(acl.data(), &header, sizeof(header));
    bytes.insert(bytes.end(), acl.begin(), acl.end());
  }
  SECURITY_DESCRIPTOR_RELATIVE sd{};
  sd.Revision = SECURITY_DESCRIPTOR_REVISION;
  sd.Control = control;
  sd.Owner = owner_offset;
  sd.Dacl = dacl_offset;
  std::memcpy(bytes.data(), &sd, sizeof(sd));
  return bytes;
}

constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What the native open answers with (ntstatus.h).
constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kStatusAccessDenied = static_cast<NTSTATUS>(0xC0000022);
constexpr NTSTATUS kStatusObjectNameInvalid = static_cast<NTSTATUS>(0xC0000033);
constexpr NTSTATUS kStatusObjectNameNotFound =
    static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kStatusObjectPathNotFound =
    static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS kStatusSharingViolation = static_cast<NTSTATUS>(0xC0000043);
constexpr NTSTATUS kStatusDeletePending = static_cast<NTSTATUS>(0xC0000056);
constexpr NTSTATUS kStatusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BA);
constexpr NTSTATUS kStatusNotADirectory = static_cast<NTSTATUS>(0xC0000103);
constexpr DWORD kReadAccess = FILE_READ_DATA | FILE_EXECUTE;
constexpr DWORD kWriteAccess = FILE_WRITE_DATA | FILE_APPEND_DATA;

// Only read, write and delete access take part in share checks, for the
// open and for the handles already there ([MS-FSA] sharing access check;
// IoCheckShareAccess).
bool TakesPartInSharing(DWORD access) {
  return (access & (kReadAccess | kWriteAccess | DELETE)) != 0;
}

// Matches a find pattern's last part: "*", "*.ext" or an exact name.
bool MatchesPattern(const std::wstring& name, const std::wstring& pattern) {
  if (pattern == L"*") return true;
  if (pattern.size() > 1 && pattern[0] == L'*') {
    const std::wstring suffix = pattern.substr(1);
    return name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) ==
               0;
  }
  return name == pattern;
}

}  // namespace

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                         static_cast<int>(text.size()), nullptr,
                                         0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                        out.data(), size, nullptr, nullptr);
  return out;
}

// The functions installed in the Platform table. Each one finds the
// simulation in force, takes its lock and acts on its state.
struct SimulatedPlatform::Impl {
  using Kind = HandleInfo::Kind;

  static SimulatedPlatform& Sim() {
    if (current_simulation == nullptr) {
      std::fputs("simulated platform called while not installed\n", stderr);
      std::abort();
    }
    return *current_simulation;
  }

  // Sets the last error and returns `result`.
  template <typename T>
  static T Fail(DWORD error, T result) {
    ::SetLastError(error);
    return result;
  }

  // --- Service manager --------------------------------------------------

  static SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machine, LPCWSTR database,
                                         DWORD access) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("OpenSCManagerW(" + Quote(machine) + ", " + Quote(database) + ", " +
          Hex(access) + ")");
    if (DWORD e = s.NextFailure("OpenSCManagerW")) return Fail(e, SC_HANDLE{});
    const DWORD allowed =
        (s.user_.elevated || s.user_.system)
            ? SC_MANAGER_ALL_ACCESS
            : (SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE |
               SC_MANAGER_QUERY_LOCK_STATUS | STANDARD_RIGHTS_READ);
    if ((access & ~allowed) != 0) return Fail(ERROR_ACCESS_DENIED, SC_HANDLE{});
    ::SetLastError(0);
    return static_cast<SC_HANDLE>(s.NewHandle({Kind::kManager, access}));
  }

  static SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR name,
                                       DWORD access) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("OpenServiceW(" + Quote(name) + ", " + Hex(access) + ")");
    if (DWORD e = s.NextFailure("OpenServiceW")) return Fail(e, SC_HANDLE{});
    if (s.FindHandle(manager, Kind::kManager) == nullptr) {
      return Fail(ERROR_INVALID_HANDLE, SC_HANDLE{});
    }
    Service* service = name == nullptr ? nullptr : s.FindService(name);
    if (service == nullptr) {
      return Fail(ERROR_SERVICE_DOES_NOT_EXIST, SC_HANDLE{});
    }
    if ((MapGenericServiceRights(access) & ~s.GrantedServiceAccess(*service)) !=
            0 ||
        (access & service->denied_access) != 0) {
      return Fail(ERROR_ACCESS_DENIED, SC_HANDLE{});
    }
    ::SetLastError(0);
    HandleInfo info{Kind::kService, access};
    info.name = Lower(name);
    return static_cast<SC_HANDLE>(s.NewHandle(info));
  }

  static std::wstring ReadDependencies(LPCWSTR dependencies) {
    if (dependencies == nullptr) return std::wstring();
    const wchar_t* p = dependencies;
    while (*p != L'\0') p += std::wcslen(p) + 1;
    return std::wstring(dependencies,
                        static_cast<size_t>(p - dependencies) + 1);
  }

  static SC_HANDLE WINAPI CreateServiceW(
      SC_HANDLE manager, LPCWSTR name, LPCWSTR display_name, DWORD access,
      DWORD service_type, DWORD start_type, DWORD error_control,
      LPCWSTR binary_path, LPCWSTR load_order_group, LPDWORD tag,
      LPCWSTR dependencies, LPCWSTR account, LPCWSTR password) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("CreateServiceW(" + Quote(name) + ", " + Hex(access) + ")");
    if (DWORD e = s.NextFailure("CreateServiceW")) return Fail(e, SC_HANDLE{});
    HandleInfo* m = s.FindHandle(manager, Kind::kManager);
    if (m == nullptr) return Fail(ERROR_INVALID_HANDLE, SC_HANDLE{});
    if ((m->granted & SC_MANAGER_CREATE_SERVICE) == 0) {
      return Fail(ERROR_ACCESS_DENIED, SC_HANDLE{});
    }
    if (name == nullptr || binary_path == nullptr) {
      return Fail(ERROR_INVALID_PARAMETER, SC_HANDLE{});
    }
    if (Service* existing = s.FindService(name)) {
      return Fail(existing->marked_for_deletion
                      ? static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE)
                      : static_cast<DWORD>(ERROR_SERVICE_EXISTS),
                  SC_HANDLE{});
    }
    Service& service = s.AddService(name);
    service.display_name = display_name ? display_name : L"";
    service.service_type = service_type;
    service.start_type = start_type;
    service.error_control = error_control;
    service.binary_path = binary_path;
    service.load_order_group = load_order_group ? load_order_group : L"";
    service.tag_requested = tag != nullptr;
    service.dependencies = ReadDependencies(dependencies);
    service.account = account ? account : L"LocalSystem";
    if (password) service.password = password;
    service.sddl = kDefaultServiceSddl;
    ::SetLastError(0);
    HandleInfo info{Kind::kService, access};
    info.name = Lower(name);
    return static_cast<SC_HANDLE>(s.NewHandle(info));
  }

  // Finds the service behind a handle that must hold `needed`.
  static Service* ServiceFor(SimulatedPlatform& s, SC_HANDLE handle,
                             DWORD needed, DWORD* error) {
    HandleInfo* h = s.FindHandle(handle, Kind::kService);
    if (h == nullptr) {
      *error = ERROR_INVALID_HANDLE;
      return nullptr;
    }
    if ((h->granted & needed) != needed) {
      *error = ERROR_ACCESS_DENIED;
      return nullptr;
    }
    auto it = s.services_.find(h->name);
    if (it == s.services_.end()) {
      *error = ERROR_INVALID_HANDLE;
      return nullptr;
    }
    s.AdvanceService(*it->second);
    return it->second.get();
  }

  static BOOL WINAPI ChangeServiceConfigW(SC_HANDLE handle, DWORD service_type,
                                          DWORD start_type, DWORD error_control,
                                          LPCWSTR binary_path,
                                          LPCWSTR load_order_group, LPDWORD tag,
                                          LPCWSTR dependencies, LPCWSTR account,
                                          LPCWSTR password,
                                          LPCWSTR display_name) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("ChangeServiceConfigW(" + Quote(binary_path) + ")");
    if (DWORD e = s.NextFailure("ChangeServiceConfigW")) return Fail(e, FALSE);
    DWORD error = 0;
    Service* service = ServiceFor(s, handle, SERVICE_CHANGE_CONFIG, &error);
    if (service == nullptr) return Fail(error, FALSE);
    if (service->marked_for_deletion) {
      return Fail(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), FALSE);
    }
    if (service_type != SERVICE_NO_CHANGE) service->service_type = service_type;
    if (start_type != SERVICE_NO_CHANGE) service->start_type = start_type;
    if (error_control != SERVICE_NO_CHANGE) {
      service->error_control = error_control;
    }
    if (binary_path) service->binary_path = binary_path;
    if (load_order_group) service->load_order_group = load_order_group;
    if (tag) service->tag_requested = true;
    if (dependencies) service->dependencies = ReadDependencies(dependencies);
    if (account) service->account = account;
    if (password) service->password = password;
    if (display_name) service->display_name = display_name;
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI ChangeServiceConfig2W(SC_HANDLE handle, DWORD level,
                                           LPVOID info) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("ChangeServiceConfig2W(" + std::to_string(level) + ")");
    if (DWORD e = s.NextFailure("ChangeServiceConfig2W")) return Fail(e, FALSE);
    DWORD error = 0;
    Service* service = ServiceFor(s, handle, SERVICE_CHANGE_CONFIG, &error);
    if (service == nullptr) return Fail(error, FALSE);
    if (info == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (level == SERVICE_CONFIG_DESCRIPTION) {
      const auto* d = static_cast<const SERVICE_DESCRIPTIONW*>(info);
      if (d->lpDescription) service->description = d->lpDescription;
    } else if (level == SERVICE_CONFIG_SERVICE_SID_INFO) {
      const auto* d = static_cast<const SERVICE_SID_INFO*>(info);
      if (d->dwServiceSidType > SERVICE_SID_TYPE_RESTRICTED) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
      }
      service->sid_type = d->dwServiceSidType;
    }
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    auto it = s.handles_.find(handle);
    if (it == s.handles_.end() || (it->second.kind != Kind::kManager &&
                                   it->second.kind != Kind::kService)) {
      s.Log("CloseServiceHandle(invalid)");
      ++s.bad_releases_;
      return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    s.Log(it->second.kind == Kind::kManager ? "CloseServiceHandle(manager)"
                                            : "CloseServiceHandle(service)");
    const std::wstring name = it->second.name;
    const bool was_service = it->second.kind == Kind::kService;
    s.handles_.erase(it);
    if (was_service) s.RemoveIfDeleted(name);
    ::SetLastError(0);
    return TRUE;
  }

  static void FillStatus(const Service& service, SERVICE_STATUS* status) {
    std::memset(status, 0, sizeof(*status));
    status->dwServiceType = service.service_type;
    status->dwCurrentState = service.state;
    status->dwControlsAccepted =
        service.state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  }

  static BOOL WINAPI QueryServiceStatusEx(SC_HANDLE handle,
                                          SC_STATUS_TYPE level, LPBYTE buffer,
                                          DWORD size, LPDWORD needed) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("QueryServiceStatusEx(" + std::to_string(level) + ", " +
          std::to_string(size) + ")");
    if (DWORD e = s.NextFailure("QueryServiceStatusEx")) return Fail(e, FALSE);
    DWORD error = 0;
    Service* service = ServiceFor(s, handle, SERVICE_QUERY_STATUS, &error);
    if (service == nullptr) return Fail(error, FALSE);
    if (level != SC_STATUS_PROCESS_INFO)
      return Fail(ERROR_INVALID_LEVEL, FALSE);
    if (needed) *needed = sizeof(SERVICE_STATUS_PROCESS);
    if (size < sizeof(SERVICE_STATUS_PROCESS) || buffer == nullptr) {
      return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    SERVICE_STATUS_PROCESS status{};
    SERVICE_STATUS basic;
    FillStatus(*service, &basic);
    status.dwServiceType = basic.dwServiceType;
    status.dwCurrentState = basic.dwCurrentState;
    status.dwControlsAccepted = basic.dwControlsAccepted;
    status.dwProcessId = service->state == SERVICE_STOPPED ? 0 : 4242;
    std::memcpy(buffer, &status, sizeof(status));
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI ControlService(SC_HANDLE handle, DWORD control,
                                    LPSERVICE_STATUS status) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("ControlService(" + std::to_string(control) + ")");
    if (DWORD e = s.NextFailure("ControlService")) return Fail(e, FALSE);
    const DWORD needed = control == SERVICE_CONTROL_STOP ? SERVICE_STOP
                         : control == SERVICE_CONTROL_INTERROGATE
                             ? SERVICE_INTERROGATE
                             : SERVICE_USER_DEFINED_CONTROL;
    DWORD error = 0;
    Service* service = ServiceFor(s, handle, needed, &error);
    if (service == nullptr) return Fail(error, FALSE);
    if (status == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    FillStatus(*service, status);
    if (control != SERVICE_CONTROL_STOP) {
      if (service->state == SERVICE_STOPPED) {
        return Fail(static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE), FALSE);
      }
      return TRUE;
    }
    if (service->stop_error != 0) return Fail(service->stop_error, FALSE);
    switch (service->state) {
      case SERVICE_STOPPED:
        return Fail(static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE), FALSE);
      case SERVICE_STOP_PENDING:
        return Fail(static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL),
                    FALSE);
      case SERVICE_START_PENDING:
        if (!service->accepts_stop_while_start_pending) {
          return Fail(static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL),
                      FALSE);
        }
        break;
      default:
        break;
    }
    ++service->stop_controls;
    if (service->stop_pending_ms == 0) {
      service->transition_at.reset();
      s.SetServiceState(*service, SERVICE_STOPPED);
    } else {
      service->state = SERVICE_STOP_PENDING;
      service->transition_at = s.now_ + service->stop_pending_ms;
      service->transition_to = SERVICE_STOPPED;
    }
    FillStatus(*service, status);
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI StartServiceW(SC_HANDLE handle, DWORD argc,
                                   LPCWSTR* argv) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("StartServiceW(" + std::to_string(argc) + ", " +
          (argv ? "args" : "null") + ")");
    if (DWORD e = s.NextFailure("StartServiceW")) return Fail(e, FALSE);
    DWORD error = 0;
    Service* service = ServiceFor(s, handle, SERVICE_START, &error);
    if (service == nullptr) return Fail(error, FALSE);
    // StartService docs: both refusals; a deleted service is both.
    if (service->marked_for_deletion) {
      return Fail(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), FALSE);
    }
    if (service->start_type == SERVICE_DISABLED) {
      return Fail(static_cast<DWORD>(ERROR_SERVICE_DISABLED), FALSE);
    }
    if (service->start_error != 0) return Fail(service->start_error, FALSE);
    if (service->state != SERVICE_STOPPED) {
      return Fail(static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING), FALSE);
    }
    ++service->start_count;
    service->state = SERVICE_START_PENDING;
    service->transition_at = s.now_ + service->start_pending_ms;
    service->transition_to = service->start_outcome;
    s.AdvanceService(*service);
    if (service->on_start) service->on_start(*service);
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI DeleteService(SC_HANDLE handle) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("DeleteService()");
    if (DWORD e = s.NextFailure("DeleteService")) return Fail(e, FALSE);
    DWORD error = 0;
    Service* service = ServiceFor(s, handle, DELETE, &error);
    if (service == nullptr) return Fail(error, FALSE);
    if (service->marked_for_deletion) {
      return Fail(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), FALSE);
    }
    service->marked_for_deletion = true;
    // [MS-SCMR] RDeleteService: the start type becomes SERVICE_DISABLED, so
    // handles still open may stop and query the service but not start it.
    service->start_type = SERVICE_DISABLED;
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI SetServiceObjectSecurity(SC_HANDLE handle,
                                              SECURITY_INFORMATION info,
                                              PSECURITY_DESCRIPTOR sd) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("SetServiceObjectSecurity(" + Hex(info) + ")");
    if (DWORD e = s.NextFailure("SetServiceObjectSecurity")) {
      return Fail(e, FALSE);
    }
    DWORD error = 0;
    Service* service = ServiceFor(s, handle, WRITE_DAC, &error);
    if (service == nullptr) return Fail(error, FALSE);
    auto d = s.descriptors_.find(sd);
    if (d == s.descriptors_.end()) {
      return Fail(static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR), FALSE);
    }
    if (info & DACL_SECURITY_INFORMATION) service->sddl = d->second.dacl;
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI QueryServiceObjectSecurity(SC_HANDLE handle,
                                                SECURITY_INFORMATION info,
                                                PSECURITY_DESCRIPTOR sd,
                                                DWORD size, LPDWORD needed) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("QueryServiceObjectSecurity(" + Hex(info) + ", " +
          std::to_string(size) + ")");
    if (DWORD e = s.NextFailure("QueryServiceObjectSecurity")) {
      return Fail(e, FALSE);
    }
    DWORD error = 0;
    Service* service = ServiceFor(s, handle, READ_CONTROL, &error);
    if (service == nullptr) return Fail(error, FALSE);
    if (needed == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const std::vector<unsigned char> bytes = BuildDescriptor(
        L"", (info & DACL_SECURITY_INFORMATION) ? service->sddl : L"");
    *needed = static_cast<DWORD>(bytes.size());
    if (sd == nullptr || size < bytes.size()) {
      return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    std::memcpy(sd, bytes.data(), bytes.size());
    ::SetLastError(0);
    return TRUE;
  }

  // --- Security ---------------------------------------------------------

  static void* NewLocalBlock(SimulatedPlatform& s, const void* data,
                             size_t size) {
    Block block;
    block.bytes.resize(std::max<size_t>(size, 64));
    if (data != nullptr && size != 0) {
      std::memcpy(block.bytes.data(), data, size);
    }
    void* key = block.bytes.data();
    s.local_blocks_[key] = std::move(block);
    return key;
  }

  static BOOL WINAPI ConvertStringSidToSidW(LPCWSTR text, PSID* sid) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("ConvertStringSidToSidW(" + Quote(text) + ")");
    if (sid) *sid = nullptr;
    if (DWORD e = s.NextFailure("ConvertStringSidToSidW"))
      return Fail(e, FALSE);
    if (text == nullptr || sid == nullptr) {
      return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    auto bytes = ParseSid(text);
    if (!bytes) return Fail(ERROR_INVALID_SID, FALSE);
    *sid = NewLocalBlock(s, bytes->data(), bytes->size());
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI ConvertSidToStringSidW(PSID sid, LPWSTR* text) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("ConvertSidToStringSidW()");
    if (text) *text = nullptr;
    if (DWORD e = s.NextFailure("ConvertSidToStringSidW"))
      return Fail(e, FALSE);
    if (text == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    auto string = SidToText(sid);
    if (!string) return Fail(ERROR_INVALID_SID, FALSE);
    *text = static_cast<LPWSTR>(NewLocalBlock(
        s, string->c_str(), (string->size() + 1) * sizeof(wchar_t)));
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(
      LPCWSTR text, DWORD revision, PSECURITY_DESCRIPTOR* sd, PULONG size) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("ConvertStringSecurityDescriptorToSecurityDescriptorW(" +
          Quote(text) + ", " + std::to_string(revision) + ")");
    if (sd) *sd = nullptr;
    if (DWORD e = s.NextFailure(
            "ConvertStringSecurityDescriptorToSecurityDescriptorW")) {
      return Fail(e, FALSE);
    }
    if (text == nullptr || sd == nullptr || revision != SDDL_REVISION_1) {
      return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    const std::wstring sddl = text;
    if (auto it = s.unconvertible_.find(sddl); it != s.unconvertible_.end()) {
      return Fail(it->second, FALSE);
    }
    Descriptor descriptor;
    size_t pos = 0;
    while (pos < sddl.size()) {
      if (pos + 1 >= sddl.size() || sddl[pos + 1] != L':') {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
      }
      // A component runs to the next "X:" outside parentheses.
      size_t end = pos + 2;
      int depth = 0;
      while (end < sddl.size()) {
        if (sddl[end] == L'(') ++depth;
        if (sddl[end] == L')') --depth;
        if (depth == 0 && end + 1 < sddl.size() && sddl[end + 1] == L':' &&
            std::wstring(L"OGDS").find(sddl[end]) != std::wstring::npos) {
          break;
        }
        ++end;
      }
      const std::wstring part = sddl.substr(pos, end - pos);
      if (part[0] == L'O') {
        descriptor.owner = part.substr(2);
        if (!ParseSid(descriptor.owner)) return Fail(ERROR_INVALID_SID, FALSE);
      } else if (part[0] == L'D') {
        if (DWORD e = CheckAcl(part)) return Fail(e, FALSE);
        descriptor.dacl = part;
        descriptor.has_dacl = true;
      } else if (part[0] != L'G' && part[0] != L'S') {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
      }
      pos = end;
    }
    // The DACL reads back as Windows' ACL bytes (GetSecurityDescriptorDacl
    // returns a pointer into the descriptor).
    std::vector<unsigned char> bytes(kDaclOffset, 0);
    if (descriptor.has_dacl) {
      const std::vector<unsigned char> built =
          BuildDescriptor(L"", descriptor.dacl);
      SECURITY_DESCRIPTOR_RELATIVE header{};
      std::memcpy(&header, built.data(), sizeof(header));
      bytes.insert(bytes.end(), built.begin() + header.Dacl, built.end());
    }
    void* block = NewLocalBlock(s, bytes.data(), bytes.size());
    s.descriptors_[block] = descriptor;
    *sd = block;
    if (size) *size = static_cast<ULONG>(std::max<size_t>(bytes.size(), 64));
    ::SetLastError(0);
    return TRUE;
  }

  // The DACL and owner pointers point into the descriptor's block.
  static constexpr size_t kDaclOffset = 64;
  static constexpr size_t kOwnerOffset = 32;

  static BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd,
                                               LPBOOL present, PACL* dacl,
                                               LPBOOL defaulted) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("GetSecurityDescriptorDacl()");
    if (DWORD e = s.NextFailure("GetSecurityDescriptorDacl")) {
      return Fail(e, FALSE);
    }
    auto d = s.descriptors_.find(sd);
    if (present == nullptr || dacl == nullptr || defaulted == nullptr) {
      return Fail(static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR), FALSE);
    }
    if (d == s.descriptors_.end()) {
      // A self-relative descriptor in Windows' layout, e.g. a service's.
      SECURITY_DESCRIPTOR_RELATIVE header{};
      if (sd == nullptr) {
        return Fail(static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR), FALSE);
      }
      std::memcpy(&header, sd, sizeof(header));
      if (header.Revision != SECURITY_DESCRIPTOR_REVISION ||
          (header.Control & SE_SELF_RELATIVE) == 0) {
        return Fail(static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR), FALSE);
      }
      *present = (header.Control & SE_DACL_PRESENT) != 0;
      *dacl = *present && header.Dacl != 0
                  ? reinterpret_cast<PACL>(static_cast<char*>(sd) + header.Dacl)
                  : nullptr;
      *defaulted = FALSE;
      ::SetLastError(0);
      return TRUE;
    }
    *present = d->second.has_dacl;
    *dacl = d->second.has_dacl
                ? reinterpret_cast<PACL>(static_cast<char*>(sd) + kDaclOffset)
                : nullptr;
    *defaulted = FALSE;
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR sd,
                                                PSID* owner, LPBOOL defaulted) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("GetSecurityDescriptorOwner()");
    if (DWORD e = s.NextFailure("GetSecurityDescriptorOwner")) {
      return Fail(e, FALSE);
    }
    auto d = s.descriptors_.find(sd);
    if (d == s.descriptors_.end() || owner == nullptr || defaulted == nullptr) {
      return Fail(static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR), FALSE);
    }
    *owner = d->second.owner.empty()
                 ? nullptr
                 : static_cast<PSID>(static_cast<char*>(sd) + kOwnerOffset);
    *defaulted = FALSE;
    ::SetLastError(0);
    return TRUE;
  }

  // Finds the live descriptor a DACL or owner pointer belongs to.
  static const Descriptor* DescriptorOf(SimulatedPlatform& s, const void* p,
                                        size_t offset) {
    for (const auto& [block, descriptor] : s.descriptors_) {
      if (static_cast<const char*>(block) + offset == p) return &descriptor;
    }
    return nullptr;
  }

  // Applies owner and DACL text to `node` as a change by the caller, with
  // the checks SetSecurityInfo makes.
  static DWORD ApplySecurity(SimulatedPlatform& s, Node& node,
                             const std::wstring& key, SECURITY_INFORMATION info,
                             const Descriptor* owner_source,
                             const Descriptor* dacl_source) {
    if (owner_source && !(s.user_.elevated || s.user_.system) &&
        owner_source->owner != s.user_.sid) {
      return ERROR_INVALID_OWNER;
    }
    if (owner_source) node.owner = owner_source->owner;
    if (dacl_source) {
      std::wstring text = dacl_source->dacl;
      // The protected flag comes from the call, as on Windows.
      if ((info & PROTECTED_DACL_SECURITY_INFORMATION) &&
          !IsProtectedDacl(text)) {
        text.insert(2, L"P");
      }
      // An unprotected DACL keeps what the parent passes on.
      if (!IsProtectedDacl(text)) {
        std::vector<std::wstring> aces = SddlAces(text);
        Node* parent = s.FindNode(ParentOf(key));
        if (parent != nullptr) {
          for (const std::wstring& ace :
               InheritedAces(parent->dacl, node.directory, node.owner)) {
            aces.push_back(ace);
          }
        }
        text = JoinDacl(AclFlags(text), aces);
      }
      node.dacl = text;
    }
    node.last_security_information = info;
    ++node.security_changes;
    s.NotePrivileged(key);
    if (dacl_source && node.directory) s.PropagateInheritance(key);
    return ERROR_SUCCESS;
  }

  static DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type,
                                      SECURITY_INFORMATION info, PSID* owner,
                                      PSID* group, PACL* dacl, PACL* sacl,
                                      PSECURITY_DESCRIPTOR* descriptor) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("GetSecurityInfo(" + Hex(info) + ")");
    if (owner) *owner = nullptr;
    if (group) *group = nullptr;
    if (dacl) *dacl = nullptr;
    if (sacl) *sacl = nullptr;
    if (descriptor) *descriptor = nullptr;
    if (DWORD e = s.NextFailure("GetSecurityInfo")) return e;
    HandleInfo* h = s.FindHandle(handle, Kind::kFile);
    if (h == nullptr || type != SE_FILE_OBJECT) return ERROR_INVALID_HANDLE;
    if ((h->granted & READ_CONTROL) == 0) return ERROR_ACCESS_DENIED;
    if (descriptor == nullptr) return ERROR_INVALID_PARAMETER;
    const std::vector<unsigned char> bytes =
        BuildDescriptor(h->node->owner, h->node->dacl);
    void* block = NewLocalBlock(s, bytes.data(), bytes.size());
    *descriptor = block;
    SECURITY_DESCRIPTOR_RELATIVE sd;
    std::memcpy(&sd, block, sizeof(sd));
    auto* base = static_cast<unsigned char*>(block);
    if (owner && (info & OWNER_SECURITY_INFORMATION) && sd.Owner != 0) {
      *owner = base + sd.Owner;
    }
    if (dacl && (info & DACL_SECURITY_INFORMATION) && sd.Dacl != 0) {
      *dacl = reinterpret_cast<PACL>(base + sd.Dacl);
    }
    return ERROR_SUCCESS;
  }

  static DWORD WINAPI SetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type,
                                      SECURITY_INFORMATION info, PSID owner,
                                      PSID group, PACL dacl, PACL sacl) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("SetSecurityInfo(" + Hex(info) + ")");
    if (DWORD e = s.NextFailure("SetSecurityInfo")) return e;
    HandleInfo* h = s.FindHandle(handle, Kind::kFile);
    if (h == nullptr || type != SE_FILE_OBJECT) return ERROR_INVALID_HANDLE;
    if (group != nullptr || sacl != nullptr) return ERROR_INVALID_PARAMETER;
    const Descriptor* dacl_source = nullptr;
    const Descriptor* owner_source = nullptr;
    if (info & DACL_SECURITY_INFORMATION) {
      dacl_source = DescriptorOf(s, dacl, kDaclOffset);
      if (dacl_source == nullptr) return ERROR_INVALID_ACL;
      if ((h->granted & WRITE_DAC) == 0) return ERROR_ACCESS_DENIED;
    }
    if (info & OWNER_SECURITY_INFORMATION) {
      owner_source = DescriptorOf(s, owner, kOwnerOffset);
      if (owner_source == nullptr) return ERROR_INVALID_OWNER;
      if ((h->granted & WRITE_OWNER) == 0) return ERROR_ACCESS_DENIED;
    }
    return ApplySecurity(s, *h->node, h->name, info, owner_source, dacl_source);
  }

  // Sets the descriptor on the object as given: no entries from the parent,
  // nothing passed on to what a directory holds.
  static BOOL WINAPI SetKernelObjectSecurity(HANDLE handle,
                                             SECURITY_INFORMATION info,
                                             PSECURITY_DESCRIPTOR sd) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("SetKernelObjectSecurity(" + Hex(info) + ")");
    if (DWORD e = s.NextFailure("SetKernelObjectSecurity")) {
      return Fail(e, FALSE);
    }
    HandleInfo* h = s.FindHandle(handle, Kind::kFile);
    if (h == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    auto d = s.descriptors_.find(sd);
    if (d == s.descriptors_.end()) {
      return Fail(static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR), FALSE);
    }
    const bool owner = (info & OWNER_SECURITY_INFORMATION) != 0;
    const bool dacl = (info & DACL_SECURITY_INFORMATION) != 0;
    if ((owner && (h->granted & WRITE_OWNER) == 0) ||
        (dacl && (h->granted & WRITE_DAC) == 0)) {
      return Fail(ERROR_ACCESS_DENIED, FALSE);
    }
    if (owner &&
        (d->second.owner.empty() || (!(s.user_.elevated || s.user_.system) &&
                                     d->second.owner != s.user_.sid))) {
      return Fail(static_cast<DWORD>(ERROR_INVALID_OWNER), FALSE);
    }
    if (dacl && !d->second.has_dacl) return Fail(ERROR_INVALID_ACL, FALSE);
    Node& node = *h->node;
    if (owner) node.owner = d->second.owner;
    if (dacl) {
      node.dacl = d->second.dacl;
      if ((info & PROTECTED_DACL_SECURITY_INFORMATION) &&
          !IsProtectedDacl(node.dacl)) {
        node.dacl.insert(2, L"P");
      }
    }
    node.last_security_information = info;
    ++node.security_changes;
    s.NotePrivileged(h->name);
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access,
                                      PHANDLE token) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("OpenProcessToken(" + Hex(access) + ")");
    if (token) *token = nullptr;
    if (DWORD e = s.NextFailure("OpenProcessToken")) return Fail(e, FALSE);
    if (process != reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)) ||
        token == nullptr) {
      return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    *token = s.NewHandle({Kind::kToken, access});
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI GetTokenInformation(HANDLE token,
                                         TOKEN_INFORMATION_CLASS info_class,
                                         LPVOID buffer, DWORD size,
                                         PDWORD returned) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("GetTokenInformation(" + std::to_string(info_class) + ", " +
          std::to_string(size) + ")");
    if (DWORD e = s.NextFailure("GetTokenInformation")) return Fail(e, FALSE);
    HandleInfo* h = s.FindHandle(token, Kind::kToken);
    if (h == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if ((h->granted & TOKEN_QUERY) == 0)
      return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (info_class != TokenUser || returned == nullptr) {
      return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    // A console user's token names its user; the process token ours.
    auto sid = ParseSid(h->name.empty() ? s.user_.sid : h->name);
    if (!sid) return Fail(ERROR_INVALID_SID, FALSE);
    const DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + sid->size());
    *returned = needed;
    if (size < needed || buffer == nullptr) {
      return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    auto* user = static_cast<TOKEN_USER*>(buffer);
    unsigned char* sid_bytes =
        static_cast<unsigned char*>(buffer) + sizeof(TOKEN_USER);
    std::memcpy(sid_bytes, sid->data(), sid->size());
    user->User.Sid = sid_bytes;
    user->User.Attributes = 0;
    ::SetLastError(0);
    return TRUE;
  }

  static DWORD WINAPI WTSGetActiveConsoleSessionId() {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("WTSGetActiveConsoleSessionId()");
    return s.console_session;
  }

  static BOOL WINAPI WTSQueryUserToken(ULONG session, PHANDLE token) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("WTSQueryUserToken(" + std::to_string(session) + ")");
    if (token == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *token = nullptr;
    if (DWORD e = s.NextFailure("WTSQueryUserToken")) return Fail(e, FALSE);
    // Only LocalSystem holds SE_TCB_NAME (WTSQueryUserToken docs).
    if (!s.user_.system) return Fail(ERROR_PRIVILEGE_NOT_HELD, FALSE);
    if (session != s.console_session) {
      return Fail(ERROR_CTX_WINSTATION_NOT_FOUND, FALSE);
    }
    // A session nobody is signed in to has no token (same docs).
    if (!s.console_user) return Fail(ERROR_NO_TOKEN, FALSE);
    HandleInfo info{Kind::kToken, TOKEN_ALL_ACCESS};
    info.name = *s.console_user;
    *token = s.NewHandle(info);
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI LookupAccountSidW(LPCWSTR system, PSID sid, LPWSTR name,
                                       LPDWORD name_length, LPWSTR domain,
                                       LPDWORD domain_length,
                                       PSID_NAME_USE use) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    const auto text = SidToText(sid);
    s.Log("LookupAccountSidW(" + Quote(system) + ", " +
          (text ? Quote(text->c_str()) : std::string("bad SID")) + ")");
    if (DWORD e = s.NextFailure("LookupAccountSidW")) return Fail(e, FALSE);
    if (!text || name_length == nullptr || domain_length == nullptr ||
        use == nullptr) {
      return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    auto account = s.accounts_.find(*text);
    if (account == s.accounts_.end()) return Fail(ERROR_NONE_MAPPED, FALSE);
    constexpr wchar_t kName[] = L"account";
    constexpr wchar_t kDomain[] = L"SIMULATED";
    const DWORD name_needed = static_cast<DWORD>(std::size(kName));
    const DWORD domain_needed = static_cast<DWORD>(std::size(kDomain));
    if (*name_length < name_needed || *domain_length < domain_needed ||
        name == nullptr || domain == nullptr) {
      *name_length = name_needed;
      *domain_length = domain_needed;
      return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    std::wmemcpy(name, kName, name_needed);
    std::wmemcpy(domain, kDomain, domain_needed);
    *name_length = name_needed - 1;
    *domain_length = domain_needed - 1;
    *use = account->second;
    ::SetLastError(0);
    return TRUE;
  }

  static BOOLEAN WINAPI RtlGenRandom(PVOID buffer, ULONG length) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("RtlGenRandom(" + std::to_string(length) + ")");
    if (DWORD e = s.NextFailure("RtlGenRandom")) return Fail(e, BOOLEAN{FALSE});
    auto* bytes = static_cast<unsigned char*>(buffer);
    for (ULONG i = 0; i < length; ++i) {
      s.random_state_ = s.random_state_ * 1103515245u + 12345u;
      bytes[i] = static_cast<unsigned char>(s.random_state_ >> 16);
    }
    return TRUE;
  }

  // --- Kernel -----------------------------------------------------------

  static HANDLE WINAPI GetCurrentProcess() {
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
  }

  static BOOL WINAPI CloseHandle(HANDLE handle) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    if (handle == GetCurrentProcess()) {
      s.Log("CloseHandle(current process)");
      return TRUE;
    }
    auto it = s.handles_.find(handle);
    if (it == s.handles_.end() || it->second.kind == Kind::kManager ||
        it->second.kind == Kind::kService || it->second.kind == Kind::kFind) {
      s.Log("CloseHandle(invalid)");
      ++s.bad_releases_;
      return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    s.Log(it->second.kind == Kind::kToken     ? "CloseHandle(token)"
          : it->second.kind == Kind::kProcess ? "CloseHandle(process)"
          : it->second.kind == Kind::kVolume  ? "CloseHandle(volume)"
                                              : "CloseHandle(file)");
    const std::shared_ptr<Node> node = it->second.node;
    s.handles_.erase(it);
    if (node) s.FinishPendingDelete(node);
    ::SetLastError(0);
    return TRUE;
  }

  // Creates the node of a new file or directory at the resolved `key`.
  static std::shared_ptr<Node> Create(SimulatedPlatform& s,
                                      const std::wstring& key,
                                      const std::wstring& path, bool directory,
                                      LPSECURITY_ATTRIBUTES security) {
    auto node = std::make_shared<Node>();
    node->directory = directory;
    const Descriptor* given = nullptr;
    if (security != nullptr) {
      auto d = s.descriptors_.find(security->lpSecurityDescriptor);
      if (d != s.descriptors_.end()) given = &d->second;
    }
    // An owner given at creation is also the one inherited CREATOR OWNER
    // entries name ([MS-DTYP] 2.5.3.4.1 CreateSecurityDescriptor, ComputeACL).
    s.InitNewObject(*node, ParentOf(key), given ? given->owner : L"");
    if (given != nullptr && given->has_dacl) {
      std::vector<std::wstring> aces = SddlAces(given->dacl);
      if (!IsProtectedDacl(given->dacl)) {
        for (const std::wstring& ace : SddlAces(node->dacl)) {
          const std::vector<std::wstring> f = SplitFields(ace);
          if (f.size() > 1 && HasAceFlag(f[1], L"ID")) aces.push_back(ace);
        }
      }
      node->dacl = JoinDacl(AclFlags(given->dacl), aces);
    }
    s.nodes_[key] = node;
    // The name as given for the last part, the real path for the rest.
    const size_t slash = path.find_last_of(L'\\');
    s.display_[key] =
        s.Display(ParentOf(key)) + L"\\" +
        (slash == std::wstring::npos ? path : path.substr(slash + 1));
    s.NotePrivileged(key);
    return node;
  }

  static BOOL WINAPI CreateDirectoryW(LPCWSTR path,
                                      LPSECURITY_ATTRIBUTES security) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("CreateDirectoryW(" + Quote(path) +
          (security ? ", attributes)" : ", null)"));
    if (DWORD e = s.NextFailure("CreateDirectoryW")) return Fail(e, FALSE);
    if (path == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const Resolved r = s.Resolve(path, false);
    if (r.key.empty()) return Fail(r.error, FALSE);
    if (r.node) {
      return Fail(r.node->delete_pending_key == r.key
                      ? static_cast<DWORD>(ERROR_ACCESS_DENIED)
                      : static_cast<DWORD>(ERROR_ALREADY_EXISTS),
                  FALSE);
    }
    if (r.error == ERROR_PATH_NOT_FOUND) return Fail(r.error, FALSE);
    std::shared_ptr<Node> parent = s.NodeAt(ParentOf(r.key));
    if (parent &&
        !s.Grants(*parent, ParentOf(ParentOf(r.key)), FILE_ADD_SUBDIRECTORY)) {
      return Fail(ERROR_ACCESS_DENIED, FALSE);
    }
    Create(s, r.key, path, true, security);
    ::SetLastError(0);
    return TRUE;
  }

  static DWORD Attributes(const Node& node) {
    return (node.directory ? FILE_ATTRIBUTE_DIRECTORY
                           : FILE_ATTRIBUTE_ARCHIVE) |
           node.extra_attributes;
  }

  static HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share,
                                   LPSECURITY_ATTRIBUTES security,
                                   DWORD disposition, DWORD flags,
                                   HANDLE template_file) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("CreateFileW(" + Quote(path) + ", " + Hex(access) + ", " +
          Hex(share) + ", " + std::to_string(disposition) + ", " + Hex(flags) +
          ((security || template_file) ? ", extra)" : ")"));
    if (DWORD e = s.NextFailure("CreateFileW")) {
      return Fail(e, INVALID_HANDLE_VALUE);
    }
    if (path == nullptr)
      return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    if (std::wstring(path).compare(0, 4, L"\\\\?\\") == 0 &&
        std::wstring(path).find(L"Volume{") == 4) {
      return OpenVolume(s, path);
    }
    const bool open_link = (flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    const Resolved r = s.Resolve(path, !open_link);
    if (r.key.empty() || r.error == ERROR_PATH_NOT_FOUND) {
      return Fail(r.error, INVALID_HANDLE_VALUE);
    }
    std::shared_ptr<Node> node = r.node;
    // "File Security and Access Rights": CreateFileW asks for SYNCHRONIZE and
    // FILE_READ_ATTRIBUTES on every open, on top of what the caller asks.
    const DWORD wanted =
        MapGenericFileRights(access) | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
    const bool creates =
        disposition != OPEN_EXISTING && disposition != TRUNCATE_EXISTING;
    if (node && node->delete_pending_key == r.key) {
      return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    DWORD last_error = 0;
    switch (disposition) {
      case CREATE_ALWAYS:
      case OPEN_ALWAYS:
        if (node) last_error = ERROR_ALREADY_EXISTS;
        break;
      case CREATE_NEW:
        // Whatever the name is, a directory included (CreateFileW docs).
        if (node) return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
        break;
      case OPEN_EXISTING:
      case TRUNCATE_EXISTING:
        if (!node) return Fail(r.error, INVALID_HANDLE_VALUE);
        break;
      default:
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    // A trailing separator names a directory: a file by such a name is
    // invalid ([MS-FSA] open: STATUS_OBJECT_NAME_INVALID).
    const size_t length = std::wcslen(path);
    if (length > 3 && path[length - 1] == L'\\' &&
        (node ? !node->directory : creates)) {
      return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    }
    if (node != nullptr && node->directory &&
        (flags & FILE_FLAG_BACKUP_SEMANTICS) == 0) {
      return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    const std::wstring parent_key = ParentOf(r.key);
    if (node) {
      DWORD needed = wanted;
      if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) {
        needed |= FILE_WRITE_DATA;
      }
      if (!s.Grants(*node, parent_key, needed)) {
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
      }
      if (DWORD e = s.CheckOpen(r, wanted, share)) {
        return Fail(e, INVALID_HANDLE_VALUE);
      }
      if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) {
        node->contents.clear();
        s.NotePrivileged(r.key);
      }
    } else {
      std::shared_ptr<Node> parent = s.NodeAt(parent_key);
      if (parent && !s.Grants(*parent, ParentOf(parent_key), FILE_ADD_FILE)) {
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
      }
      node = Create(s, r.key, path, false, security);
    }
    HandleInfo info{Kind::kFile, wanted};
    info.name = r.key;
    info.node = node;
    info.share = share;
    HANDLE handle = s.NewHandle(info);
    ::SetLastError(last_error);
    return handle;
  }

  // The native open of an existing object by its "\\??\\" name: exactly the
  // access asked for, nothing added (NtOpenFile docs).
  static NTSTATUS NTAPI NtOpenFile(PHANDLE handle, ACCESS_MASK access,
                                   POBJECT_ATTRIBUTES attributes,
                                   PIO_STATUS_BLOCK io, ULONG share,
                                   ULONG options) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    std::wstring name;
    if (attributes && attributes->ObjectName &&
        attributes->ObjectName->Buffer) {
      name.assign(attributes->ObjectName->Buffer,
                  attributes->ObjectName->Length / sizeof(wchar_t));
    }
    s.Log("NtOpenFile(" + Quote(name.c_str()) + ", " + Hex(access) + ", " +
          Hex(share) + ", " + Hex(options) + ")");
    // An injected Win32 error fails with the status that stands for it: a
    // bare error number would read as a success status.
    if (DWORD e = s.NextFailure("NtOpenFile")) {
      return e == ERROR_SHARING_VIOLATION ? kStatusSharingViolation
             : e == ERROR_ACCESS_DENIED   ? kStatusAccessDenied
                                          : kStatusInvalidParameter;
    }
    if (handle == nullptr || io == nullptr || attributes == nullptr ||
        attributes->RootDirectory != nullptr) {
      return kStatusInvalidParameter;
    }
    // The synchronous-I/O options need SYNCHRONIZE (NtCreateFile docs).
    if ((options &
         (FILE_SYNCHRONOUS_IO_ALERT | FILE_SYNCHRONOUS_IO_NONALERT)) &&
        !(access & SYNCHRONIZE)) {
      return kStatusInvalidParameter;
    }
    if (name.compare(0, 4, L"\\??\\") != 0) return kStatusObjectNameInvalid;
    const Resolved r =
        s.Resolve(name.substr(4), (options & FILE_OPEN_REPARSE_POINT) == 0);
    if (!r.node) {
      return r.error == ERROR_FILE_NOT_FOUND   ? kStatusObjectNameNotFound
             : r.error == ERROR_PATH_NOT_FOUND ? kStatusObjectPathNotFound
                                               : kStatusObjectNameInvalid;
    }
    if ((options & FILE_NON_DIRECTORY_FILE) && r.node->directory) {
      return kStatusFileIsADirectory;
    }
    if ((options & FILE_DIRECTORY_FILE) && !r.node->directory) {
      return kStatusNotADirectory;
    }
    if (r.node->delete_pending_key == r.key) return kStatusDeletePending;
    if (const DWORD e = s.CheckOpen(r, access, share)) {
      return e == ERROR_SHARING_VIOLATION ? kStatusSharingViolation
                                          : kStatusAccessDenied;
    }
    HandleInfo info{Kind::kFile, MapGenericFileRights(access)};
    info.name = r.key;
    info.node = r.node;
    info.share = share;
    *handle = s.NewHandle(info);
    io->Status = 0;
    io->Information = FILE_OPENED;
    ::SetLastError(0);
    return 0;
  }

  // A volume's device, named by its GUID path without the final separator.
  static HANDLE OpenVolume(SimulatedPlatform& s, const std::wstring& path) {
    for (wchar_t drive = L'A'; drive <= L'Z'; ++drive) {
      const std::wstring name = VolumeGuidPath(drive);
      if (_wcsicmp(path.c_str(), name.substr(0, name.size() - 1).c_str()) ==
          0) {
        HandleInfo info{Kind::kVolume, 0};
        info.name = std::wstring(1, drive);
        HANDLE handle = s.NewHandle(info);
        ::SetLastError(0);
        return handle;
      }
    }
    return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
  }

  static BOOL WINAPI WriteFile(HANDLE handle, LPCVOID data, DWORD count,
                               LPDWORD written, LPOVERLAPPED overlapped) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("WriteFile(" + std::to_string(count) +
          (overlapped ? ", overlapped)" : ")"));
    if (written) *written = 0;
    if (DWORD e = s.NextFailure("WriteFile")) return Fail(e, FALSE);
    HandleInfo* h = s.FindHandle(handle, Kind::kFile);
    if (h == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if ((h->granted & FILE_WRITE_DATA) == 0) {
      return Fail(ERROR_ACCESS_DENIED, FALSE);
    }
    if (written == nullptr && overlapped == nullptr) {
      return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
    }
    DWORD amount = count;
    if (s.write_limit_) amount = std::min(amount, *s.write_limit_);
    Node& file = *h->node;
    const auto* bytes = static_cast<const char*>(data);
    if (file.contents.size() < h->position + amount) {
      file.contents.resize(h->position + amount);
    }
    if (amount) std::memcpy(file.contents.data() + h->position, bytes, amount);
    h->position += amount;
    if (written) *written = amount;
    s.NotePrivileged(h->name);
    ::SetLastError(0);
    return TRUE;
  }

  // Removes the name `key`, as a deletion by the caller.
  static DWORD RemoveName(SimulatedPlatform& s, const std::wstring& key) {
    std::shared_ptr<Node> node = s.NodeAt(key);
    if (node == nullptr) return ERROR_FILE_NOT_FOUND;
    if (node->directory && !s.Children(key).empty()) return ERROR_DIR_NOT_EMPTY;
    if (node->delete_pending_key == key) node->delete_pending_key.clear();
    s.NotePrivileged(key);
    s.nodes_.erase(key);
    s.display_.erase(key);
    return 0;
  }

  static BOOL WINAPI DeleteFileW(LPCWSTR path) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("DeleteFileW(" + Quote(path) + ")");
    if (DWORD e = s.NextFailure("DeleteFileW")) return Fail(e, FALSE);
    if (path == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    // A link itself is deleted, never its target.
    const Resolved r = s.Resolve(path, false);
    if (!r.node) return Fail(r.error, FALSE);
    if (r.node->directory) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (DWORD e = s.CheckOpen(r, DELETE, kShareAll)) return Fail(e, FALSE);
    // With POSIX semantics, which DeleteFileW uses on NTFS since Windows 10
    // 1903: the name goes at once, even while other handles are open.
    RemoveName(s, r.key);
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI
  GetFileInformationByHandleEx(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS type,
                               LPVOID buffer, DWORD size) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("GetFileInformationByHandleEx(" + std::to_string(type) + ")");
    if (DWORD e = s.NextFailure("GetFileInformationByHandleEx")) {
      return Fail(e, FALSE);
    }
    HandleInfo* h = s.FindHandle(handle, Kind::kFile);
    if (h == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (buffer == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (type == FileAttributeTagInfo &&
        size >= sizeof(FILE_ATTRIBUTE_TAG_INFO)) {
      auto* info = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(buffer);
      info->FileAttributes = Attributes(*h->node);
      info->ReparseTag =
          (h->node->extra_attributes & FILE_ATTRIBUTE_REPARSE_POINT)
              ? IO_REPARSE_TAG_MOUNT_POINT
              : 0;
    } else if (type == FileStandardInfo && size >= sizeof(FILE_STANDARD_INFO)) {
      auto* info = static_cast<FILE_STANDARD_INFO*>(buffer);
      *info = FILE_STANDARD_INFO{};
      info->EndOfFile.QuadPart =
          static_cast<LONGLONG>(h->node->contents.size());
      info->NumberOfLinks = 0;
      for (const auto& [key, node] : s.nodes_) {
        if (node == h->node) ++info->NumberOfLinks;
      }
      info->Directory = h->node->directory;
      info->DeletePending = !h->node->delete_pending_key.empty();
    } else {
      return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI SetFileInformationByHandle(HANDLE handle,
                                                FILE_INFO_BY_HANDLE_CLASS type,
                                                LPVOID buffer, DWORD size) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("SetFileInformationByHandle(" + std::to_string(type) + ")");
    if (DWORD e = s.NextFailure("SetFileInformationByHandle")) {
      return Fail(e, FALSE);
    }
    HandleInfo* h = s.FindHandle(handle, Kind::kFile);
    if (h == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (type == FileRenameInfo) return Rename(s, *h, buffer, size);
    if (type != FileDispositionInfo || buffer == nullptr ||
        size < sizeof(FILE_DISPOSITION_INFO)) {
      return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    // Both ways need DELETE on the handle (ZwSetInformationFile docs).
    if ((h->granted & DELETE) == 0) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (s.NodeAt(h->name) != h->node) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    Node& node = *h->node;
    if (!static_cast<FILE_DISPOSITION_INFO*>(buffer)->DeleteFile) {
      node.delete_pending_key.clear();
    } else {
      if (node.directory && !s.Children(h->name).empty()) {
        return Fail(static_cast<DWORD>(ERROR_DIR_NOT_EMPTY), FALSE);
      }
      // The name the handle was opened by stays, refusing every open,
      // until the object's last handle closes ([MS-FSA]
      // FileDispositionInformation).
      node.delete_pending_key = h->name;
    }
    ::SetLastError(0);
    return TRUE;
  }

  // FileRenameInfo through the handle `h`.
  static BOOL Rename(SimulatedPlatform& s, HandleInfo& h, const void* buffer,
                     DWORD size) {
    const auto* info = static_cast<const FILE_RENAME_INFO*>(buffer);
    const size_t header = offsetof(FILE_RENAME_INFO, FileName);
    if (buffer == nullptr || size < header ||
        info->FileNameLength % sizeof(wchar_t) != 0 ||
        size - header < info->FileNameLength || info->RootDirectory) {
      return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    // Renaming needs DELETE on the handle (ZwSetInformationFile docs).
    if ((h.granted & DELETE) == 0) return Fail(ERROR_ACCESS_DENIED, FALSE);
    const std::wstring target(info->FileName,
                              info->FileNameLength / sizeof(wchar_t));
    if (DWORD e = s.MoveName(h.name, target, info->ReplaceIfExists != 0)) {
      return Fail(e, FALSE);
    }
    ::SetLastError(0);
    return TRUE;
  }

  static DWORD WINAPI GetFinalPathNameByHandleW(HANDLE handle, LPWSTR buffer,
                                                DWORD size, DWORD flags) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("GetFinalPathNameByHandleW(" + std::to_string(size) + ", " +
          Hex(flags) + ")");
    if (DWORD e = s.NextFailure("GetFinalPathNameByHandleW")) {
      return Fail(e, DWORD{0});
    }
    HandleInfo* h = s.FindHandle(handle, Kind::kFile);
    if (h == nullptr) return Fail(ERROR_INVALID_HANDLE, DWORD{0});
    const std::wstring path = L"\\\\?\\" + s.Display(h->name);
    if (path.size() + 1 > size || buffer == nullptr) {
      return static_cast<DWORD>(path.size() + 1);
    }
    std::memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    ::SetLastError(0);
    return static_cast<DWORD>(path.size());
  }

  static UINT WINAPI GetDriveTypeW(LPCWSTR root) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("GetDriveTypeW(" + Quote(root) + ")");
    if (root == nullptr) return DRIVE_NO_ROOT_DIR;
    const std::wstring text = root;
    if (text.size() != 3 || text[1] != L':' || text[2] != L'\\') {
      return text.compare(0, 2, L"\\\\") == 0 ? DRIVE_REMOTE
                                              : DRIVE_NO_ROOT_DIR;
    }
    auto it = s.drive_types_.find(static_cast<wchar_t>(std::towlower(text[0])));
    return it == s.drive_types_.end() ? DRIVE_FIXED : it->second;
  }

  static BOOL WINAPI GetVolumePathNameW(LPCWSTR path, LPWSTR root, DWORD size) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("GetVolumePathNameW(" + Quote(path) + ")");
    if (DWORD e = s.NextFailure("GetVolumePathNameW")) return Fail(e, FALSE);
    if (path == nullptr || root == nullptr || std::wcslen(path) < 2 ||
        path[1] != L':' || !std::iswalpha(path[0])) {
      return Fail(ERROR_INVALID_NAME, FALSE);
    }
    if (size < 4) return Fail(ERROR_FILENAME_EXCED_RANGE, FALSE);
    const wchar_t text[] = {static_cast<wchar_t>(std::towupper(path[0])), L':',
                            L'\\', L'\0'};
    std::memcpy(root, text, sizeof(text));
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI GetVolumeNameForVolumeMountPointW(LPCWSTR root,
                                                       LPWSTR name,
                                                       DWORD size) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("GetVolumeNameForVolumeMountPointW(" + Quote(root) + ")");
    if (DWORD e = s.NextFailure("GetVolumeNameForVolumeMountPointW")) {
      return Fail(e, FALSE);
    }
    if (root == nullptr || name == nullptr || std::wcslen(root) != 3 ||
        root[1] != L':' || root[2] != L'\\') {
      return Fail(ERROR_INVALID_NAME, FALSE);
    }
    const std::wstring volume = VolumeGuidPath(root[0]);
    if (size < volume.size() + 1)
      return Fail(ERROR_FILENAME_EXCED_RANGE, FALSE);
    std::memcpy(name, volume.c_str(), (volume.size() + 1) * sizeof(wchar_t));
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI DeviceIoControl(HANDLE handle, DWORD code, LPVOID in,
                                     DWORD in_size, LPVOID out, DWORD out_size,
                                     LPDWORD returned,
                                     LPOVERLAPPED overlapped) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("DeviceIoControl(" + Hex(code) + ")");
    if (returned) *returned = 0;
    if (DWORD e = s.NextFailure("DeviceIoControl")) return Fail(e, FALSE);
    HandleInfo* h = s.FindHandle(handle, Kind::kVolume);
    if (h == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (code != IOCTL_STORAGE_QUERY_PROPERTY) {
      return Fail(ERROR_INVALID_FUNCTION, FALSE);
    }
    STORAGE_PROPERTY_QUERY query{};
    if (in == nullptr || in_size < sizeof(query) || overlapped != nullptr ||
        returned == nullptr) {
      return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    std::memcpy(&query, in, sizeof(query));
    if (query.PropertyId != StorageDeviceProperty ||
        query.QueryType != PropertyStandardQuery) {
      return Fail(ERROR_INVALID_FUNCTION, FALSE);
    }
    STORAGE_DEVICE_DESCRIPTOR descriptor{};
    descriptor.Version = sizeof(descriptor);
    descriptor.Size = sizeof(descriptor);
    auto bus =
        s.bus_types_.find(static_cast<wchar_t>(std::towlower(h->name[0])));
    descriptor.BusType = bus == s.bus_types_.end() ? BusTypeSata : bus->second;
    const DWORD size = std::min<DWORD>(out_size, sizeof(descriptor));
    if (out == nullptr || size < sizeof(STORAGE_DESCRIPTOR_HEADER)) {
      return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    std::memcpy(out, &descriptor, size);
    *returned = size;
    ::SetLastError(0);
    return TRUE;
  }

  static UINT WINAPI GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("GetSystemWindowsDirectoryW(" + std::to_string(size) + ")");
    if (DWORD e = s.NextFailure("GetSystemWindowsDirectoryW")) {
      return Fail(e, UINT{0});
    }
    constexpr wchar_t kWindows[] = L"C:\\Windows";
    constexpr UINT kLength = static_cast<UINT>(std::size(kWindows) - 1);
    if (buffer == nullptr || size <= kLength) return kLength + 1;
    std::memcpy(buffer, kWindows, sizeof(kWindows));
    ::SetLastError(0);
    return kLength;
  }

  static BOOL WINAPI SetDefaultDllDirectories(DWORD flags) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("SetDefaultDllDirectories(" + Hex(flags) + ")");
    if (DWORD e = s.NextFailure("SetDefaultDllDirectories")) {
      return Fail(e, FALSE);
    }
    ::SetLastError(0);
    return TRUE;
  }

  static void FillFound(SimulatedPlatform& s, HandleInfo& h,
                        WIN32_FIND_DATAW* data) {
    *data = WIN32_FIND_DATAW{};
    const std::wstring& name = h.found[h.next_found++];
    std::wstring display = name;
    if (name != L"." && name != L"..") {
      const std::wstring full = s.Display(h.name + L"\\" + name);
      display = full.substr(full.find_last_of(L'\\') + 1);
      if (auto node = s.NodeAt(h.name + L"\\" + name)) {
        data->dwFileAttributes = Attributes(*node);
      }
    } else {
      data->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    }
    const size_t length = std::min<size_t>(display.size(), MAX_PATH - 1);
    std::memcpy(data->cFileName, display.c_str(), length * sizeof(wchar_t));
  }

  static HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("FindFirstFileW(" + Quote(pattern) + ")");
    if (DWORD e = s.NextFailure("FindFirstFileW")) {
      return Fail(e, INVALID_HANDLE_VALUE);
    }
    if (pattern == nullptr || data == nullptr) {
      return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    const std::wstring text = pattern;
    const size_t slash = text.find_last_of(L'\\');
    if (slash == std::wstring::npos) {
      return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    const Resolved r = s.Resolve(text.substr(0, slash), true);
    if (!r.node || !r.node->directory) {
      return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    // The search opens the directory to list it, sharing everything, for
    // synchronous I/O, which needs SYNCHRONIZE (NtCreateFile,
    // FILE_SYNCHRONOUS_IO_NONALERT).
    if (DWORD e =
            s.CheckOpen(r, FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll)) {
      return Fail(e, INVALID_HANDLE_VALUE);
    }
    const std::wstring part = Lower(text.substr(slash + 1));
    HandleInfo info{Kind::kFind, 0};
    info.name = r.key;
    if (part == L"*") info.found = {L".", L".."};
    for (const std::wstring& name : s.Children(r.key)) {
      if (MatchesPattern(name, part)) info.found.push_back(name);
    }
    if (info.found.empty()) {
      return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    HANDLE handle = s.NewHandle(info);
    FillFound(s, s.handles_[handle], data);
    ::SetLastError(0);
    return handle;
  }

  static BOOL WINAPI FindNextFileW(HANDLE handle, WIN32_FIND_DATAW* data) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("FindNextFileW()");
    if (DWORD e = s.NextFailure("FindNextFileW")) return Fail(e, FALSE);
    HandleInfo* h = s.FindHandle(handle, Kind::kFind);
    if (h == nullptr || data == nullptr) {
      return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    if (h->next_found >= h->found.size()) {
      return Fail(ERROR_NO_MORE_FILES, FALSE);
    }
    FillFound(s, *h, data);
    ::SetLastError(0);
    return TRUE;
  }

  static BOOL WINAPI FindClose(HANDLE handle) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("FindClose()");
    auto it = s.handles_.find(handle);
    if (it == s.handles_.end() || it->second.kind != Kind::kFind) {
      ++s.bad_releases_;
      return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    s.handles_.erase(it);
    ::SetLastError(0);
    return TRUE;
  }

  static DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer,
                                         DWORD size) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("GetModuleFileNameW(" + std::string(module ? "module" : "null") +
          ", " + std::to_string(size) + ")");
    if (DWORD e = s.NextFailure("GetModuleFileNameW")) return Fail(e, DWORD{0});
    if (module != nullptr) return Fail(ERROR_MOD_NOT_FOUND, DWORD{0});
    const std::wstring& path = s.module_path_;
    if (path.size() < size) {
      std::memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
      ::SetLastError(0);
      return static_cast<DWORD>(path.size());
    }
    // Truncated to the buffer, terminator included, like Windows.
    if (size > 0) {
      std::memcpy(buffer, path.c_str(), (size - 1) * sizeof(wchar_t));
      buffer[size - 1] = L'\0';
    }
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }

  static HMODULE WINAPI LoadLibraryExW(LPCWSTR path, HANDLE file, DWORD flags) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("LoadLibraryExW(" + Quote(path) + ", " + (file ? "file" : "null") +
          ", " + Hex(flags) + ")");
    if (DWORD e = s.NextFailure("LoadLibraryExW")) return Fail(e, HMODULE{});
    if (path == nullptr) return Fail(ERROR_INVALID_PARAMETER, HMODULE{});
    auto it = s.libraries_.find(Lower(path));
    if (it == s.libraries_.end()) return Fail(ERROR_MOD_NOT_FOUND, HMODULE{});
    // LoadLibraryExW docs: the LOAD_LIBRARY_SEARCH_ flags replace the
    // standard search order for the library's dependencies, searched in the
    // order library's folder, application's, System32 (SetDefaultDllDirectories
    // docs); "Dynamic-link library search order": without them it ends in
    // the PATH folders.
    const std::wstring own = path;
    const std::wstring application =
        s.module_path_.substr(0, s.module_path_.rfind(L'\\'));
    std::vector<std::wstring> folders;
    if (flags & LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR) {
      folders.push_back(own.substr(0, own.rfind(L'\\')));
    }
    if (flags & (LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                 LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) {
      folders.push_back(application);
    }
    if (flags &
        (LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) {
      folders.push_back(L"C:\\Windows\\System32");
    }
    if ((flags & 0x1F00) == 0) {  // no LOAD_LIBRARY_SEARCH_ flag
      folders = {application, L"C:\\Windows\\System32", L"C:\\Windows"};
      folders.insert(folders.end(), s.search_path.begin(), s.search_path.end());
    }
    std::vector<std::wstring> needed;
    for (const auto& [importer, names] : s.imports_) {
      if (Lower(importer) == it->first) needed = names;
    }
    for (const std::wstring& name : needed) {
      bool found = false;
      for (const std::wstring& folder : folders) {
        const std::wstring key = Lower(folder + L"\\" + name);
        if (s.libraries_.count(key) == 0) continue;
        s.loaded_modules_[reinterpret_cast<void*>(s.next_handle_)] = key;
        s.next_handle_ += 0x10;
        found = true;
        break;
      }
      if (!found) return Fail(ERROR_MOD_NOT_FOUND, HMODULE{});
    }
    void* module = reinterpret_cast<void*>(s.next_handle_);
    s.next_handle_ += 0x10;
    s.loaded_modules_[module] = it->first;
    ++s.loaded_libraries_;
    ::SetLastError(0);
    return static_cast<HMODULE>(module);
  }

  static FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    const bool by_name = reinterpret_cast<uintptr_t>(name) > 0xFFFF;
    s.Log(std::string("GetProcAddress(") + (by_name ? name : "ordinal") + ")");
    if (DWORD e = s.NextFailure("GetProcAddress")) return Fail(e, FARPROC{});
    auto m = s.loaded_modules_.find(module);
    if (m == s.loaded_modules_.end())
      return Fail(ERROR_MOD_NOT_FOUND, FARPROC{});
    if (!by_name) return Fail(ERROR_PROC_NOT_FOUND, FARPROC{});
    const Library& library = s.libraries_[m->second];
    auto e = library.exports.find(name);
    if (e == library.exports.end())
      return Fail(ERROR_PROC_NOT_FOUND, FARPROC{});
    ::SetLastError(0);
    return e->second;
  }

  static ULONGLONG WINAPI GetTickCount64() {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    return s.now_;
  }

  static void WINAPI Sleep(DWORD ms) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("Sleep(" + std::to_string(ms) + ")");
    s.now_ += ms;
  }

  static HLOCAL WINAPI LocalFree(HLOCAL block) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("LocalFree()");
    if (block == nullptr) return nullptr;
    auto it = s.local_blocks_.find(block);
    if (it == s.local_blocks_.end()) {
      ++s.bad_releases_;
      return Fail(ERROR_INVALID_HANDLE, block);
    }
    s.descriptors_.erase(block);
    s.local_blocks_.erase(it);
    return nullptr;
  }

  static DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD timeout) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("WaitForSingleObject(" + std::to_string(timeout) + ")");
    if (DWORD e = s.NextFailure("WaitForSingleObject")) {
      return Fail(e, WAIT_FAILED);
    }
    HandleInfo* h = s.FindHandle(handle, Kind::kProcess);
    if (h == nullptr) return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
    if (h->finishes && s.now_ >= h->finishes_at) return WAIT_OBJECT_0;
    if (h->finishes &&
        (timeout == INFINITE || h->finishes_at - s.now_ <= timeout)) {
      s.now_ = h->finishes_at;
      return WAIT_OBJECT_0;
    }
    if (timeout == INFINITE) {
      std::fputs("simulated process never ends: infinite wait\n", stderr);
      std::abort();
    }
    s.now_ += timeout;
    return WAIT_TIMEOUT;
  }

  static BOOL WINAPI GetExitCodeProcess(HANDLE handle, LPDWORD code) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("GetExitCodeProcess()");
    if (DWORD e = s.NextFailure("GetExitCodeProcess")) return Fail(e, FALSE);
    HandleInfo* h = s.FindHandle(handle, Kind::kProcess);
    if (h == nullptr || code == nullptr)
      return Fail(ERROR_INVALID_HANDLE, FALSE);
    *code =
        (h->finishes && s.now_ >= h->finishes_at) ? h->exit_code : STILL_ACTIVE;
    ::SetLastError(0);
    return TRUE;
  }

  // --- Shell and COM ----------------------------------------------------

  static HRESULT WINAPI SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags,
                                             HANDLE token, PWSTR* path) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("SHGetKnownFolderPath(" +
          std::string(id == kProgramDataFolder    ? "ProgramData"
                      : id == kProgramFilesFolder ? "ProgramFiles"
                                                  : "other") +
          ", " + Hex(flags) + ", " + (token ? "token" : "null") + ")");
    if (path) *path = nullptr;
    if (DWORD e = s.NextFailure("SHGetKnownFolderPath")) {
      return HRESULT_FROM_WIN32(e);
    }
    if (path == nullptr) return E_INVALIDARG;
    if (!(id == kProgramDataFolder) && !(id == kProgramFilesFolder)) {
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    // KF_FLAG_DEFAULT_PATH gives the folder's default rather than its
    // current (possibly redirected) path (Microsoft: KNOWN_FOLDER_FLAG).
    const std::wstring folder = id != kProgramDataFolder ? kProgramFilesPath
                                : (flags & KF_FLAG_DEFAULT_PATH) != 0
                                    ? L"C:\\ProgramData"
                                    : s.program_data_;
    Block block;
    block.bytes.resize((folder.size() + 1) * sizeof(wchar_t));
    std::memcpy(block.bytes.data(), folder.c_str(), block.bytes.size());
    void* key = block.bytes.data();
    s.co_task_blocks_[key] = std::move(block);
    *path = static_cast<PWSTR>(key);
    return S_OK;
  }

  static void WINAPI CoTaskMemFree(LPVOID block) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    s.Log("CoTaskMemFree()");
    if (block == nullptr) return;
    if (s.co_task_blocks_.erase(block) == 0) ++s.bad_releases_;
  }

  static BOOL WINAPI ShellExecuteExW(SHELLEXECUTEINFOW* info) {
    SimulatedPlatform& s = Sim();
    std::lock_guard lock(s.mutex_);
    if (info == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    ShellExecuteRecord record;
    record.cb_size = info->cbSize;
    record.mask = info->fMask;
    record.window = info->hwnd;
    if (info->lpVerb) record.verb = info->lpVerb;
    if (info->lpFile) record.file = info->lpFile;
    if (info->lpParameters) record.parameters = info->lpParameters;
    if (info->lpDirectory) record.directory = info->lpDirectory;
    record.show = info->nShow;
    record.other_fields_zero =
        info->hInstApp == nullptr && info->lpIDList == nullptr &&
        info->lpClass == nullptr && info->hkeyClass == nullptr &&
        info->dwHotKey == 0 && info->hIcon == nullptr &&
        info->hProcess == nullptr;
    s.shell_executions_.push_back(record);
    s.Log("ShellExecuteExW(" + Quote(info->lpVerb) + ", " +
          Quote(info->lpFile) + ", " + Quote(info->lpParameters) + ")");
    info->hProcess = nullptr;
    if (DWORD e = s.NextFailure("ShellExecuteExW")) return Fail(e, FALSE);
    const ElevationScript script = s.elevation_;
    if (script.launch_error != 0) return Fail(script.launch_error, FALSE);
    DWORD exit_code = 0;
    if (script.run) {
      const bool was_elevated = s.user_.elevated;
      s.user_.elevated = true;
      exit_code = script.run(record);
      s.user_.elevated = was_elevated;
    }
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
    if (script.return_process_handle &&
        (info->fMask & SEE_MASK_NOCLOSEPROCESS)) {
      HandleInfo process{Kind::kProcess, PROCESS_ALL_ACCESS};
      process.exit_code = exit_code;
      process.finishes = script.finishes;
      process.finishes_at = s.now_ + script.run_ms;
      info->hProcess = s.NewHandle(process);
    }
    ::SetLastError(0);
    return TRUE;
  }

  static const Platform& Table() {
    static const Platform table = {
        OpenSCManagerW,
        OpenServiceW,
        CreateServiceW,
        ChangeServiceConfigW,
        ChangeServiceConfig2W,
        CloseServiceHandle,
        QueryServiceStatusEx,
        ControlService,
        StartServiceW,
        DeleteService,
        SetServiceObjectSecurity,
        QueryServiceObjectSecurity,
        ConvertStringSidToSidW,
        ConvertSidToStringSidW,
        ConvertStringSecurityDescriptorToSecurityDescriptorW,
        GetSecurityDescriptorDacl,
        GetSecurityDescriptorOwner,
        GetSecurityInfo,
        SetSecurityInfo,
        SetKernelObjectSecurity,
        OpenProcessToken,
        GetTokenInformation,
        LookupAccountSidW,
        RtlGenRandom,
        WTSGetActiveConsoleSessionId,
        WTSQueryUserToken,
        GetCurrentProcess,
        CloseHandle,
        CreateDirectoryW,
        CreateFileW,
        WriteFile,
        DeleteFileW,
        GetFileInformationByHandleEx,
        SetFileInformationByHandle,
        GetFinalPathNameByHandleW,
        GetDriveTypeW,
        GetVolumePathNameW,
        GetVolumeNameForVolumeMountPointW,
        DeviceIoControl,
        GetSystemWindowsDirectoryW,
        FindFirstFileW,
        FindNextFileW,
        FindClose,
        GetModuleFileNameW,
        SetDefaultDllDirectories,
        LoadLibraryExW,
        GetProcAddress,
        GetTickCount64,
        Sleep,
        LocalFree,
        WaitForSingleObject,
        GetExitCodeProcess,
        NtOpenFile,
        SHGetKnownFolderPath,
        ShellExecuteExW,
        CoTaskMemFree,
    };
    return table;
  }
};

SimulatedPlatform::SimulatedPlatform() {
  SetProgramData(program_data_);
  SetModulePath(module_path_);
  previous_ = current_simulation;
  current_simulation = this;
  scoped_ = new ScopedPlatform(Impl::Table());
}

SimulatedPlatform::~SimulatedPlatform() {
  delete scoped_;
  current_simulation = previous_;
}

SimulatedPlatform* SimulatedPlatform::Current() { return current_simulation; }

SimulatedPlatform::Service& SimulatedPlatform::AddService(
    const std::wstring& name) {
  std::lock_guard lock(mutex_);
  auto service = std::make_unique<Service>();
  service->name = name;
  Service& result = *service;
  services_[Lower(name)] = std::move(service);
  return result;
}

SimulatedPlatform::Service* SimulatedPlatform::FindService(
    const std::wstring& name) {
  std::lock_guard lock(mutex_);
  const std::wstring key = Lower(name);
  auto it = services_.find(key);
  if (it == services_.end()) return nullptr;
  AdvanceService(*it->second);
  RemoveIfDeleted(key);
  it = services_.find(key);
  return it == services_.end() ? nullptr : it->second.get();
}

void SimulatedPlatform::SetProgramData(const std::wstring& path) {
  program_data_ = path;
  Node& folder = AddDirectory(path);
  folder.owner = L"SY";
  folder.dacl = kProgramDataDacl;
}

void SimulatedPlatform::PutNode(const std::wstring& path,
                                std::shared_ptr<Node> node) {
  const std::wstring key = PathKey(path);
  nodes_[key] = std::move(node);
  std::wstring display = path;
  while (display.size() > 2 && display.back() == L'\\') display.pop_back();
  display_[key] = display;
}

SimulatedPlatform::Node& SimulatedPlatform::AddDirectory(
    const std::wstring& path) {
  std::lock_guard lock(mutex_);
  const std::wstring key = PathKey(path);
  const std::wstring parent = ParentOf(key);
  if (!parent.empty() && FindNode(parent) == nullptr) {
    AddDirectory(ParentOf(path));
  }
  if (IsDriveRoot(key) && FindNode(key) == nullptr) {
    // Like a fresh volume: administrators own it, users may read it and
    // make folders in it.
    auto root = std::make_shared<Node>();
    root->owner = L"SY";
    root->dacl = kVolumeRootDacl;
    PutNode(path, root);
  }
  std::shared_ptr<Node> node = NodeAt(key);
  if (node == nullptr) {
    node = std::make_shared<Node>();
    PutNode(path, node);
  }
  node->directory = true;
  return *node;
}

SimulatedPlatform::Node& SimulatedPlatform::AddFile(
    const std::wstring& path, const std::string& contents) {
  std::lock_guard lock(mutex_);
  const std::wstring parent = PathKey(ParentOf(path));
  if (!parent.empty() && FindNode(parent) == nullptr) {
    AddDirectory(ParentOf(path));
  }
  std::shared_ptr<Node> node = NodeAt(PathKey(path));
  if (node == nullptr) {
    node = std::make_shared<Node>();
    PutNode(path, node);
  }
  node->directory = false;
  node->contents = contents;
  return *node;
}

SimulatedPlatform::Node& SimulatedPlatform::AddHardLink(
    const std::wstring& link, const std::wstring& target) {
  std::lock_guard lock(mutex_);
  std::shared_ptr<Node> node = NodeAt(PathKey(target));
  if (node == nullptr) {
    AddFile(target, "");
    node = NodeAt(PathKey(target));
  }
  PutNode(link, node);
  return *node;
}

SimulatedPlatform::Node& SimulatedPlatform::AddJunction(
    const std::wstring& path, const std::wstring& target) {
  std::lock_guard lock(mutex_);
  if (FindNode(target) == nullptr) AddDirectory(target);
  Node& node = AddDirectory(path);
  node.extra_attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  node.link_target = target;
  return node;
}

SimulatedPlatform::Node* SimulatedPlatform::FindNode(const std::wstring& path) {
  std::lock_guard lock(mutex_);
  auto it = nodes_.find(PathKey(path));
  return it == nodes_.end() ? nullptr : it->second.get();
}

void SimulatedPlatform::RemoveNode(const std::wstring& path) {
  std::lock_guard lock(mutex_);
  nodes_.erase(PathKey(path));
  display_.erase(PathKey(path));
}

std::optional<std::string> SimulatedPlatform::FileContents(
    const std::wstring& path) {
  Node* node = FindNode(path);
  if (node == nullptr || node->directory) return std::nullopt;
  return node->contents;
}

int SimulatedPlatform::LinkCount(const std::wstring& path) {
  std::lock_guard lock(mutex_);
  std::shared_ptr<Node> node = NodeAt(PathKey(path));
  if (node == nullptr) return 0;
  return static_cast<int>(
      std::count_if(nodes_.begin(), nodes_.end(),
                    [&](const auto& entry) { return entry.second == node; }));
}

std::vector<std::wstring> SimulatedPlatform::Children(
    const std::wstring& path) {
  std::lock_guard lock(mutex_);
  const std::wstring prefix = PathKey(path) + L"\\";
  std::vector<std::wstring> names;
  for (const auto& [key, node] : nodes_) {
    if (key.size() > prefix.size() &&
        key.compare(0, prefix.size(), prefix) == 0 &&
        key.find(L'\\', prefix.size()) == std::wstring::npos) {
      names.push_back(key.substr(prefix.size()));
    }
  }
  return names;
}

void SimulatedPlatform::SetDriveType(wchar_t drive, UINT type) {
  drive_types_[static_cast<wchar_t>(std::towlower(drive))] = type;
}

void SimulatedPlatform::SetBusType(wchar_t drive, STORAGE_BUS_TYPE bus) {
  std::lock_guard lock(mutex_);
  bus_types_[static_cast<wchar_t>(std::towlower(drive))] = bus;
}

void SimulatedPlatform::SetModulePath(const std::wstring& path) {
  std::lock_guard lock(mutex_);
  module_path_ = path;
  // The executable sits where only administrators can change anything,
  // unless a test weakens that.
  const size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos || path.size() >= MAX_PATH) return;
  std::vector<std::wstring> missing;
  for (std::wstring above = path.substr(0, slash);
       above.size() > 2 && FindNode(above) == nullptr;
       above = ParentOf(above)) {
    missing.push_back(above);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    Node& directory = AddDirectory(*it);
    directory.owner = kTrustedInstaller;
    directory.dacl = PathKey(*it) == L"c:\\program files"
                         ? kProgramFilesDacl
                         : kProtectedFolderDacl;
  }
  if (!Resolve(path, true).node) {
    Node& exe = AddFile(path, "MZ");
    exe.owner = L"BA";
    exe.dacl = kProtectedFileDacl;
  }
}

void SimulatedPlatform::RunAs(const User& caller,
                              const std::function<void()>& action) {
  std::lock_guard lock(mutex_);
  const User saved = user_;
  user_ = caller;
  action();
  user_ = saved;
}

SimulatedPlatform::Resolved SimulatedPlatform::Resolve(const std::wstring& path,
                                                       bool follow_final,
                                                       int depth) {
  Resolved result;
  const std::wstring key = PathKey(path);
  if (key.size() < 2 || key[1] != L':' || depth > 8) {
    result.error = ERROR_INVALID_NAME;
    return result;
  }
  std::wstring current = key.substr(0, 2);
  size_t pos = 2;
  while (pos < key.size()) {
    if (key[pos] != L'\\') {
      result.error = ERROR_INVALID_NAME;
      return result;
    }
    size_t end = key.find(L'\\', pos + 1);
    if (end == std::wstring::npos) end = key.size();
    const std::wstring candidate = current + key.substr(pos, end - pos);
    const bool last = end == key.size();
    std::shared_ptr<Node> parent = NodeAt(current);
    if (!IsDriveRoot(current) && (parent == nullptr || !parent->directory)) {
      result.error = ERROR_PATH_NOT_FOUND;
      return result;
    }
    current = candidate;
    std::shared_ptr<Node> node = NodeAt(current);
    if (node && (node->extra_attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        !node->link_target.empty() && (!last || follow_final)) {
      const Resolved target = Resolve(node->link_target, true, depth + 1);
      if (target.key.empty()) return target;
      current = target.key;
    }
    pos = end;
  }
  result.key = current;
  result.node = NodeAt(current);
  if (!result.node) {
    std::shared_ptr<Node> parent = NodeAt(ParentOf(current));
    result.error =
        (parent && parent->directory) || IsDriveRoot(ParentOf(current))
            ? ERROR_FILE_NOT_FOUND
            : ERROR_PATH_NOT_FOUND;
  }
  return result;
}

std::shared_ptr<SimulatedPlatform::Node> SimulatedPlatform::NodeAt(
    const std::wstring& key) {
  auto it = nodes_.find(PathKey(key));
  return it == nodes_.end() ? nullptr : it->second;
}

std::wstring SimulatedPlatform::Display(const std::wstring& key) {
  auto it = display_.find(PathKey(key));
  if (it != display_.end()) return it->second;
  if (IsDriveRoot(PathKey(key))) {
    return std::wstring(1, static_cast<wchar_t>(std::towupper(key[0]))) + L":";
  }
  return key;
}

Token SimulatedPlatform::CallerToken() const {
  return TokenOf(user_.sid, user_.elevated, user_.system, user_.filtered_admin);
}

DWORD SimulatedPlatform::Rights(const Node& node,
                                const std::wstring& parent_key) const {
  const Token token = CallerToken();
  DWORD allowed = GrantedAccess(token, node.owner, node.dacl,
                                MapGenericFileRights, FILE_ALL_ACCESS);
  auto parent = nodes_.find(parent_key);
  if (parent != nodes_.end() && &node != parent->second.get()) {
    // "File Security and Access Rights": delete-child on the folder allows
    // deleting what is in it, and listing it reads its entries' attributes;
    // nothing else (SYNCHRONIZE included) comes from the parent.
    const DWORD parent_rights =
        GrantedAccess(token, parent->second->owner, parent->second->dacl,
                      MapGenericFileRights, FILE_ALL_ACCESS);
    if (parent_rights & FILE_DELETE_CHILD) allowed |= DELETE;
    if (parent_rights & FILE_LIST_DIRECTORY) allowed |= FILE_READ_ATTRIBUTES;
  }
  return allowed;
}

bool SimulatedPlatform::Grants(const Node& node, const std::wstring& parent_key,
                               DWORD access) const {
  return (MapGenericFileRights(access) & ~Rights(node, parent_key)) == 0;
}

bool SimulatedPlatform::SharingAllows(const std::shared_ptr<Node>& node,
                                      DWORD access, DWORD share) const {
  access = MapGenericFileRights(access);
  if (!TakesPartInSharing(access)) return true;
  for (const auto& [handle, info] : handles_) {
    const DWORD held = info.granted;
    if (info.kind != HandleInfo::kFile || info.node != node ||
        !TakesPartInSharing(held)) {
      continue;
    }
    if (((access & kReadAccess) && !(info.share & FILE_SHARE_READ)) ||
        ((access & kWriteAccess) && !(info.share & FILE_SHARE_WRITE)) ||
        ((access & DELETE) && !(info.share & FILE_SHARE_DELETE)) ||
        ((held & kReadAccess) && !(share & FILE_SHARE_READ)) ||
        ((held & kWriteAccess) && !(share & FILE_SHARE_WRITE)) ||
        ((held & DELETE) && !(share & FILE_SHARE_DELETE))) {
      return false;
    }
  }
  return true;
}

DWORD SimulatedPlatform::CheckOpen(const Resolved& r, DWORD access,
                                   DWORD share) const {
  if (!r.node) return r.error;
  // A name whose deletion is pending opens for nobody ([MS-FSA] open of an
  // existing file: STATUS_DELETE_PENDING).
  if (r.node->delete_pending_key == r.key) return ERROR_ACCESS_DENIED;
  if (!Grants(*r.node, ParentOf(r.key), access)) return ERROR_ACCESS_DENIED;
  if ((r.node->locked_by_other &&
       TakesPartInSharing(MapGenericFileRights(access))) ||
      !SharingAllows(r.node, access, share)) {
    return ERROR_SHARING_VIOLATION;
  }
  return 0;
}

void SimulatedPlatform::InitNewObject(Node& node,
                                      const std::wstring& parent_key,
                                      const std::wstring& owner) {
  node.owner = !owner.empty()   ? owner
               : user_.system   ? L"SY"
               : user_.elevated ? L"BA"
                                : user_.sid;
  std::shared_ptr<Node> parent = NodeAt(parent_key);
  if (parent == nullptr || parent->dacl.empty()) return;
  const std::vector<std::wstring> inherited =
      InheritedAces(parent->dacl, node.directory, node.owner);
  // With nothing to inherit the creator's token gives its default DACL
  // ([MS-DTYP] 2.5.3.4.1), a logon's: its user and SYSTEM, full access.
  node.dacl = !inherited.empty() ? JoinDacl(L"AI", inherited)
              : node.owner == L"SY"
                  ? L"D:(A;;FA;;;SY)"
                  : L"D:(A;;FA;;;" + node.owner + L")(A;;FA;;;SY)";
}

void SimulatedPlatform::PropagateInheritance(
    const std::wstring& directory_key) {
  std::shared_ptr<Node> directory = NodeAt(directory_key);
  if (directory == nullptr) return;
  for (const std::wstring& name : Children(directory_key)) {
    const std::wstring key = PathKey(directory_key) + L"\\" + name;
    std::shared_ptr<Node> child = NodeAt(key);
    if (child == nullptr || IsProtectedDacl(child->dacl)) continue;
    std::vector<std::wstring> aces;
    for (const std::wstring& ace : SddlAces(child->dacl)) {
      if (!HasAceFlag(SplitFields(ace).size() > 1 ? SplitFields(ace)[1] : L"",
                      L"ID")) {
        aces.push_back(ace);
      }
    }
    for (const std::wstring& ace :
         InheritedAces(directory->dacl, child->directory, child->owner)) {
      aces.push_back(ace);
    }
    child->dacl = JoinDacl(AclFlags(child->dacl), aces);
    // Not through a junction: its target is another folder's business.
    if (child->directory &&
        (child->extra_attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      PropagateInheritance(key);
    }
  }
}

void SimulatedPlatform::NotePrivileged(const std::wstring& key) {
  if (user_.elevated || user_.system)
    privileged_changes_.push_back(Display(key));
}

// --- What another process can do by itself --------------------------------

DWORD SimulatedPlatform::Rename(const std::wstring& from,
                                const std::wstring& to) {
  std::lock_guard lock(mutex_);
  // MoveFileExW opens the source for DELETE, then renames it by handle.
  const Resolved source = Resolve(from, false);
  if (DWORD e = CheckOpen(source, DELETE, kShareAll)) return e;
  return MoveName(source.key, to, false);
}

DWORD SimulatedPlatform::MoveName(std::wstring key,
                                  const std::wstring& target_path,
                                  bool replace) {
  std::shared_ptr<Node> source = NodeAt(key);
  if (source == nullptr) return ERROR_FILE_NOT_FOUND;
  // A name without a drive is relative to the process's current directory
  // (FILE_RENAME_INFO docs), which the simulated process shares with the
  // test, not to the renamed object's folder.
  std::wstring path = target_path;
  if (path.size() < 2 || path[1] != L':') {
    wchar_t current[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, current);
    path = PathKey(current) + (path.empty() || path[0] != L'\\' ? L"\\" : L"") +
           path;
  }
  const Resolved target = Resolve(path, false);
  if (target.key.empty() || target.error == ERROR_PATH_NOT_FOUND) {
    return target.key.empty() ? target.error : ERROR_PATH_NOT_FOUND;
  }
  if (target.key[0] != key[0]) return ERROR_NOT_SAME_DEVICE;
  std::shared_ptr<Node> new_parent = NodeAt(ParentOf(target.key));
  if (new_parent &&
      !Grants(*new_parent, ParentOf(ParentOf(target.key)),
              source->directory ? FILE_ADD_SUBDIRECTORY : FILE_ADD_FILE)) {
    return ERROR_ACCESS_DENIED;
  }
  if (target.node && target.key != key) {
    if (!replace) return ERROR_ALREADY_EXISTS;
    // Replacing deletes the target: the caller must be allowed to ("Rename
    // and Hard Link Processing", file system driver docs).
    if (!Grants(*target.node, ParentOf(target.key), DELETE)) {
      return ERROR_ACCESS_DENIED;
    }
    // Only a file nobody has open is replaced ([MS-FSA]
    // FileRenameInformation).
    const bool open = std::any_of(
        handles_.begin(), handles_.end(),
        [&](const auto& entry) { return entry.second.node == target.node; });
    if (target.node->directory || open || target.node->locked_by_other) {
      return ERROR_ACCESS_DENIED;
    }
  }
  // Nor does a directory move while anything inside is open without delete
  // sharing ([MS-FSA] FileRenameInformation: STATUS_ACCESS_DENIED).
  const std::wstring prefix = key + L"\\";
  for (const auto& [handle, info] : handles_) {
    if (info.kind == HandleInfo::kFile &&
        info.name.compare(0, prefix.size(), prefix) == 0 &&
        !(info.share & FILE_SHARE_DELETE)) {
      return ERROR_ACCESS_DENIED;
    }
  }
  for (const auto& [name, node] : nodes_) {
    if (name.compare(0, prefix.size(), prefix) == 0 && node->locked_by_other) {
      return ERROR_ACCESS_DENIED;
    }
  }
  if (target.node && target.key != key) {
    nodes_.erase(target.key);
    display_.erase(target.key);
  }
  const auto moved_key = [&](const std::wstring& old) {
    return target.key + old.substr(key.size());
  };
  const auto is_moved = [&](const std::wstring& name) {
    return name == key || name.compare(0, prefix.size(), prefix) == 0;
  };
  std::vector<std::pair<std::wstring, std::shared_ptr<Node>>> moved;
  for (auto it = nodes_.begin(); it != nodes_.end();) {
    if (is_moved(it->first)) {
      moved.emplace_back(it->first, it->second);
      it = nodes_.erase(it);
    } else {
      ++it;
    }
  }
  std::map<std::wstring, std::wstring> names;
  for (auto& [old, node] : moved) {
    const std::wstring now = moved_key(old);
    names[now] = old == key
                     ? path.substr(path.find_last_of(L'\\') + 1)
                     : Display(old).substr(Display(old).rfind(L'\\') + 1);
    display_.erase(old);
    nodes_[now] = node;
    if (is_moved(node->delete_pending_key)) {
      node->delete_pending_key = moved_key(node->delete_pending_key);
    }
  }
  // Parents first, so each name's folder part is the folder's new name.
  for (const auto& [now, name] : names) {
    display_[now] = Display(ParentOf(now)) + L"\\" + name;
  }
  for (auto& [handle, info] : handles_) {
    if (info.kind == HandleInfo::kFile && is_moved(info.name)) {
      info.name = moved_key(info.name);
    }
  }
  NotePrivileged(target.key);
  return 0;
}

void SimulatedPlatform::FinishPendingDelete(const std::shared_ptr<Node>& node) {
  if (node->delete_pending_key.empty()) return;
  for (const auto& [handle, info] : handles_) {
    if (info.kind == HandleInfo::kFile && info.node == node) return;
  }
  const std::wstring key = node->delete_pending_key;
  node->delete_pending_key.clear();
  if (NodeAt(key) != node || (node->directory && !Children(key).empty())) {
    return;
  }
  NotePrivileged(key);
  nodes_.erase(key);
  display_.erase(key);
}

DWORD SimulatedPlatform::MakeJunction(const std::wstring& path,
                                      const std::wstring& target) {
  std::lock_guard lock(mutex_);
  const Resolved r = Resolve(path, false);
  if (r.key.empty() || r.error == ERROR_PATH_NOT_FOUND) return r.error;
  if (r.node) {
    // A mount point needs a handle with FILE_WRITE_DATA or
    // FILE_WRITE_ATTRIBUTES ([MS-FSA] FSCTL_SET_REPARSE_POINT); only the
    // first takes part in share checks, so the attacker takes the second
    // where it may.
    if (!r.node->directory) return ERROR_DIRECTORY;
    const DWORD access = Grants(*r.node, ParentOf(r.key), FILE_WRITE_ATTRIBUTES)
                             ? FILE_WRITE_ATTRIBUTES
                             : FILE_WRITE_DATA;
    if (DWORD e = CheckOpen(r, access, kShareAll)) return e;
    if (!Children(r.key).empty()) return ERROR_DIR_NOT_EMPTY;
  } else {
    std::shared_ptr<Node> parent = NodeAt(ParentOf(r.key));
    if (parent &&
        !Grants(*parent, ParentOf(ParentOf(r.key)), FILE_ADD_SUBDIRECTORY)) {
      return ERROR_ACCESS_DENIED;
    }
    auto node = std::make_shared<Node>();
    node->directory = true;
    InitNewObject(*node, ParentOf(r.key));
    nodes_[r.key] = node;
    display_[r.key] = Display(ParentOf(r.key)) + L"\\" +
                      path.substr(path.find_last_of(L'\\') + 1);
  }
  Node& node = *NodeAt(r.key);
  node.extra_attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  node.link_target = target;
  NotePrivileged(r.key);
  return 0;
}

DWORD SimulatedPlatform::MakeHardLink(const std::wstring& link,
                                      const std::wstring& target) {
  std::lock_guard lock(mutex_);
  const Resolved source = Resolve(target, true);
  if (!source.node) return source.error;
  if (source.node->directory) return ERROR_ACCESS_DENIED;
  // Current Windows 10 and 11 want FILE_WRITE_ATTRIBUTES on the file a new
  // link names (the hard-link mitigation, as Project Zero describes it).
  if (DWORD e = CheckOpen(source, FILE_WRITE_ATTRIBUTES, kShareAll)) return e;
  const Resolved r = Resolve(link, false);
  if (r.key.empty() || r.error == ERROR_PATH_NOT_FOUND) return r.error;
  if (r.node) return ERROR_ALREADY_EXISTS;
  std::shared_ptr<Node> parent = NodeAt(ParentOf(r.key));
  if (parent && !Grants(*parent, ParentOf(ParentOf(r.key)), FILE_ADD_FILE)) {
    return ERROR_ACCESS_DENIED;
  }
  nodes_[r.key] = source.node;
  display_[r.key] = Display(ParentOf(r.key)) + L"\\" +
                    link.substr(link.find_last_of(L'\\') + 1);
  NotePrivileged(r.key);
  return 0;
}

DWORD SimulatedPlatform::SetDacl(const std::wstring& path,
                                 const std::wstring& dacl) {
  std::lock_guard lock(mutex_);
  const Resolved r = Resolve(path, true);
  if (!r.node) return r.error;
  if (!Grants(*r.node, ParentOf(r.key), WRITE_DAC)) return ERROR_ACCESS_DENIED;
  r.node->dacl = dacl;
  ++r.node->security_changes;
  NotePrivileged(r.key);
  return 0;
}

DWORD SimulatedPlatform::WriteContents(const std::wstring& path,
                                       const std::string& contents) {
  std::lock_guard lock(mutex_);
  const Resolved r = Resolve(path, true);
  if (r.key.empty() || r.error == ERROR_PATH_NOT_FOUND) return r.error;
  if (r.node) {
    if (r.node->directory) return ERROR_ACCESS_DENIED;
    if (DWORD e = CheckOpen(r, FILE_WRITE_DATA, FILE_SHARE_READ)) return e;
    r.node->contents = contents;
  } else {
    std::shared_ptr<Node> parent = NodeAt(ParentOf(r.key));
    if (parent && !Grants(*parent, ParentOf(ParentOf(r.key)), FILE_ADD_FILE)) {
      return ERROR_ACCESS_DENIED;
    }
    auto node = std::make_shared<Node>();
    InitNewObject(*node, ParentOf(r.key));
    node->contents = contents;
    nodes_[r.key] = node;
    display_[r.key] = Display(ParentOf(r.key)) + L"\\" +
                      path.substr(path.find_last_of(L'\\') + 1);
  }
  NotePrivileged(r.key);
  return 0;
}

std::optional<std::string> SimulatedPlatform::Read(const std::wstring& path) {
  std::lock_guard lock(mutex_);
  const Resolved r = Resolve(path, true);
  if (!r.node || r.node->directory ||
      !Grants(*r.node, ParentOf(r.key), FILE_READ_DATA)) {
    return std::nullopt;
  }
  return r.node->contents;
}

HANDLE SimulatedPlatform::OpenForeign(const std::wstring& path, DWORD access,
                                      DWORD share, DWORD* error) {
  std::lock_guard lock(mutex_);
  const Resolved r = Resolve(path, true);
  const DWORD e = CheckOpen(r, access, share);
  if (error) *error = e;
  if (e != 0) return INVALID_HANDLE_VALUE;
  HandleInfo info{HandleInfo::kFile, MapGenericFileRights(access)};
  info.name = r.key;
  info.node = r.node;
  info.share = share;
  info.foreign = true;
  return NewHandle(info);
}

DWORD SimulatedPlatform::SetDaclByHandle(HANDLE handle,
                                         const std::wstring& dacl) {
  std::lock_guard lock(mutex_);
  HandleInfo* h = FindHandle(handle, HandleInfo::kFile);
  if (h == nullptr) return ERROR_INVALID_HANDLE;
  if ((h->granted & WRITE_DAC) == 0) return ERROR_ACCESS_DENIED;
  h->node->dacl = dacl;
  ++h->node->security_changes;
  return 0;
}

SC_HANDLE SimulatedPlatform::OpenForeignService(const std::wstring& name,
                                                DWORD access, DWORD* error) {
  std::lock_guard lock(mutex_);
  Service* service = FindService(name);
  DWORD e = 0;
  if (service == nullptr) {
    e = ERROR_SERVICE_DOES_NOT_EXIST;
  } else if ((MapGenericServiceRights(access) &
              ~GrantedServiceAccess(*service)) != 0 ||
             (access & service->denied_access) != 0) {
    e = ERROR_ACCESS_DENIED;
  }
  if (error) *error = e;
  if (e != 0) return nullptr;
  HandleInfo info{HandleInfo::kService, access};
  info.name = Lower(name);
  info.foreign = true;
  return static_cast<SC_HANDLE>(NewHandle(info));
}

void SimulatedPlatform::CloseForeign(void* handle) {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(handle);
  if (it == handles_.end() || !it->second.foreign) return;
  const bool service = it->second.kind == HandleInfo::kService;
  const std::wstring name = it->second.name;
  handles_.erase(it);
  if (service) RemoveIfDeleted(name);
}

std::optional<std::string> SimulatedPlatform::ReadByHandle(HANDLE handle) {
  std::lock_guard lock(mutex_);
  HandleInfo* h = FindHandle(handle, HandleInfo::kFile);
  if (h == nullptr || (h->granted & FILE_READ_DATA) == 0) return std::nullopt;
  return h->node->contents;
}

void SimulatedPlatform::AddLibrary(const std::wstring& path, Library library) {
  std::lock_guard lock(mutex_);
  libraries_[Lower(path)] = std::move(library);
}

void SimulatedPlatform::Advance(uint64_t ms) {
  std::lock_guard lock(mutex_);
  now_ += ms;
}

void SimulatedPlatform::FailAlways(const std::string& function, DWORD error) {
  std::lock_guard lock(mutex_);
  failures_.push_back({function, error, 0, 0, uses_[function]});
}

void SimulatedPlatform::FailOnUse(const std::string& function, DWORD error,
                                  int nth, int times) {
  std::lock_guard lock(mutex_);
  failures_.push_back({function, error, nth, times, uses_[function]});
}

DWORD SimulatedPlatform::NextFailure(const std::string& function) {
  if (in_hook_) return 0;
  const int use = ++uses_[function];
  for (const FailureRule& rule : failures_) {
    if (rule.function != function) continue;
    if (rule.first == 0) return rule.error;
    const int relative = use - rule.base;
    if (relative >= rule.first && relative < rule.first + rule.count) {
      return rule.error;
    }
  }
  return 0;
}

void SimulatedPlatform::Log(std::string line) {
  if (in_hook_) return;
  if (before_call) {
    in_hook_ = true;
    before_call(line.substr(0, line.find('(')));
    in_hook_ = false;
  }
  calls_.push_back(std::move(line));
}

void* SimulatedPlatform::NewHandle(HandleInfo info) {
  if (info.node && !info.foreign && (user_.elevated || user_.system)) {
    info.node->privileged_opens.insert(info.name);
  }
  void* handle = reinterpret_cast<void*>(next_handle_);
  next_handle_ += 0x10;
  handles_[handle] = std::move(info);
  return handle;
}

SimulatedPlatform::HandleInfo* SimulatedPlatform::FindHandle(
    void* handle, HandleInfo::Kind kind) {
  auto it = handles_.find(handle);
  if (it == handles_.end() || it->second.kind != kind) return nullptr;
  return &it->second;
}

void SimulatedPlatform::AdvanceService(Service& service) {
  while (service.transition_at && now_ >= *service.transition_at) {
    const uint64_t at = *service.transition_at;
    service.transition_at.reset();
    SetServiceState(service, service.transition_to);
    if (service.state == SERVICE_RUNNING && service.run_ms != 0) {
      service.transition_at = at + service.run_ms;
      service.transition_to = SERVICE_STOPPED;
    }
  }
}

void SimulatedPlatform::SetServiceState(Service& service, DWORD state) {
  const DWORD before = service.state;
  service.state = state;
  if (state == SERVICE_STOPPED && before != SERVICE_STOPPED &&
      service.on_stop) {
    service.on_stop(service);
  }
}

void SimulatedPlatform::RemoveIfDeleted(const std::wstring& key) {
  auto it = services_.find(key);
  if (it == services_.end()) return;
  AdvanceService(*it->second);
  if (!it->second->marked_for_deletion ||
      it->second->state != SERVICE_STOPPED) {
    return;
  }
  for (const auto& [handle, info] : handles_) {
    if (info.kind == HandleInfo::kService && info.name == key) return;
  }
  services_.erase(it);
}

DWORD SimulatedPlatform::GrantedServiceAccess(const Service& service) const {
  return GrantedAccess(CallerToken(), L"", service.sddl,
                       MapGenericServiceRights, SERVICE_ALL_ACCESS);
}

int SimulatedPlatform::open_service_handles() const {
  return static_cast<int>(
      std::count_if(handles_.begin(), handles_.end(), [](const auto& entry) {
        return (entry.second.kind == HandleInfo::kManager ||
                entry.second.kind == HandleInfo::kService) &&
               !entry.second.foreign;
      }));
}

int SimulatedPlatform::open_kernel_handles() const {
  return static_cast<int>(
      std::count_if(handles_.begin(), handles_.end(), [](const auto& entry) {
        return entry.second.kind == HandleInfo::kToken ||
               entry.second.kind == HandleInfo::kProcess ||
               entry.second.kind == HandleInfo::kVolume;
      }));
}

int SimulatedPlatform::open_file_handles() const {
  return static_cast<int>(
      std::count_if(handles_.begin(), handles_.end(), [](const auto& entry) {
        return (entry.second.kind == HandleInfo::kFile &&
                !entry.second.foreign) ||
               entry.second.kind == HandleInfo::kFind;
      }));
}

bool SimulatedPlatform::WasLoaded(const std::wstring& path) const {
  const std::wstring key = Lower(path);
  return std::any_of(loaded_modules_.begin(), loaded_modules_.end(),
                     [&](const auto& entry) { return entry.second == key; });
}

DWORD SimulatedPlatform::HeldAccess(HandleInfo::Kind kind) const {
  DWORD held = 0;
  for (const auto& [handle, info] : handles_) {
    if (info.kind == kind && !info.foreign) held |= info.granted;
  }
  return held;
}

std::map<std::wstring, std::string> SimulatedPlatform::FileTree() const {
  std::map<std::wstring, std::string> tree;
  for (const auto& [key, node] : nodes_) {
    if (node->directory) {
      tree[key + L"\\"] = "";
    } else {
      tree[key] = node->contents;
    }
  }
  return tree;
}

bool SimulatedPlatform::AllReleased() const {
  const bool handles_closed =
      std::all_of(handles_.begin(), handles_.end(),
                  [](const auto& entry) { return entry.second.foreign; });
  return handles_closed && local_blocks_.empty() && co_task_blocks_.empty() &&
         bad_releases_ == 0;
}

std::string SimulatedPlatform::LeakReport() const {
  std::ostringstream report;
  report << "service handles " << open_service_handles() << ", kernel handles "
         << open_kernel_handles() << ", file handles " << open_file_handles()
         << ", LocalAlloc blocks " << local_blocks_.size()
         << ", CoTaskMem blocks " << co_task_blocks_.size() << ", bad releases "
         << bad_releases_ << "; calls:";
  for (const std::string& call : calls_) report << "\n  " << call;
  return report.str();
}

std::vector<std::string> SimulatedPlatform::CallsTo(
    const std::string& function) const {
  std::vector<std::string> result;
  for (const std::string& call : calls_) {
    if (call.compare(0, function.size() + 1, function + "(") == 0) {
      result.push_back(call);
    }
  }
  return result;
}

int SimulatedPlatform::CountCalls(const std::string& function) const {
  return static_cast<int>(CallsTo(function).size());
}

}  // namespace tunnel_control::testing
