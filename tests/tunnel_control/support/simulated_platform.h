// A simulated Windows for the tunnel code's tests.
//
// Constructing a SimulatedPlatform installs it through the platform seam for
// its lifetime: every function of the Platform table then lands here. It
// models just enough Windows to run the tunnel code deterministically:
//
//   - a service manager with services (full configuration, DACL as SDDL,
//     state) whose state changes are scripted over a virtual clock;
//   - a file system: files and directories with owner and DACL, checked
//     for each caller (a user, another user, an administrator, SYSTEM),
//     inheritance on creation and on DACL changes, junctions and mount
//     points that paths really pass through, hard links, handles with
//     share modes that keep what they were granted, renames by handle,
//     delete dispositions that wait for the last handle, and security
//     descriptors in Windows' binary layout, checked against a real file
//     system by platform_differential_test.cpp;
//   - another process: a hook before every call and the attacker's own
//     operations (rename, junction, hard link, DACL change, kept handles);
//   - a virtual clock: Sleep and timed-out waits advance GetTickCount64;
//   - the module path, fake libraries with fake exports, the process token,
//     the known folder, and ShellExecuteExW with a scriptable elevated run;
//   - failure injection per function name, and access rules derived from
//     the current user (SID, elevated or not) and the DACLs;
//   - counters of open handles and outstanding blocks, and a call log.
//
// Typical use:
//
//   SimulatedPlatform sim;                       // installed from here on
//   sim.user().elevated = true;
//   EXPECT_EQ(RunInstallMode(L"S-1-5-21-1-2-3-1001"), 0);
//   const SimulatedPlatform::Service* s =
//       sim.FindService(L"WireGuardTunnel$VarnVPN");
//   EXPECT_TRUE(sim.AllReleased()) << sim.LeakReport();
//
// Failures set the thread's last error like Windows. Simulated handles are
// distinct fake pointer values that never alias real ones. Not thread-safe
// against concurrent tests, but calls from one background thread at a time
// are fine (an internal recursive mutex serialises them).
#ifndef TESTS_TUNNEL_CONTROL_SUPPORT_SIMULATED_PLATFORM_H_
#define TESTS_TUNNEL_CONTROL_SUPPORT_SIMULATED_PLATFORM_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/tunnel_control/os/platform.h"
#include "tests/tunnel_control/support/simulated_access.h"

namespace tunnel_control::testing {

// Where the tunnel's files land on the simulated machine (its ProgramData is
// C:\ProgramData unless a test moves it), and two users to install for.
inline constexpr wchar_t kDataDirectory[] = L"C:\\ProgramData\\VarnVPN";
inline constexpr wchar_t kConfigPath[] =
    L"C:\\ProgramData\\VarnVPN\\VarnVPN.conf";
inline constexpr wchar_t kUserA[] = L"S-1-5-21-100-200-300-1001";
inline constexpr wchar_t kUserB[] = L"S-1-5-21-100-200-300-1002";
inline constexpr wchar_t kTrustedInstaller[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// The usual security of a fresh machine's folders. The system drive's root
// of a Windows 10/11 client: Authenticated Users may make folders in it and
// modify everything below (DISA Windows 10 STIG WN10-00-000095, "C:\\").
inline constexpr wchar_t kVolumeRootDacl[] =
    L"D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200A9;;;BU)"
    L"(A;OICIIO;0x1301BF;;;AU)(A;;LC;;;AU)";
// C:\Program Files, owned by TrustedInstaller (the same STIG rule, its icacls
// listing; S-1-15-2-1 and -2 are the application package groups).
inline constexpr wchar_t kProgramFilesDacl[] =
    L"D:PAI(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-"
    L"2271478464)(A;CIIO;FA;;;S-1-5-80-956008885-3418522649-1831038044-"
    L"1853292631-2271478464)(A;;0x1301BF;;;SY)(A;OICIIO;FA;;;SY)"
    L"(A;;0x1301BF;;;BA)(A;OICIIO;FA;;;BA)(A;;0x1200A9;;;BU)"
    L"(A;OICIIO;GXGR;;;BU)(A;OICIIO;FA;;;CO)(A;;0x1200A9;;;S-1-15-2-1)"
    L"(A;OICIIO;GXGR;;;S-1-15-2-1)(A;;0x1200A9;;;S-1-15-2-2)"
    L"(A;OICIIO;GXGR;;;S-1-15-2-2)";
inline constexpr wchar_t kProgramDataDacl[] =
    L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)"
    L"(A;OICI;0x1200A9;;;BU)(A;CI;0x100116;;;BU)";
inline constexpr wchar_t kProtectedFolderDacl[] =
    L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-80-956008885-"
    L"3418522649-1831038044-1853292631-2271478464)(A;OICI;0x1200A9;;;BU)";
inline constexpr wchar_t kProtectedFileDacl[] =
    L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200A9;;;BU)";

class SimulatedPlatform {
 public:
  // A service of the simulated service manager. Tests set these fields up
  // directly and read them back after a run.
  struct Service {
    std::wstring name;
    std::wstring display_name;
    std::wstring description;
    std::wstring binary_path;
    // The raw dependency list up to and including its closing double NUL
    // (so L"Nsi\0TcpIp\0\0" has 11 characters); empty when none was given.
    std::wstring dependencies;
    DWORD service_type = SERVICE_WIN32_OWN_PROCESS;
    DWORD start_type = SERVICE_DEMAND_START;
    DWORD error_control = SERVICE_ERROR_NORMAL;
    std::wstring account = L"LocalSystem";
    std::wstring load_order_group;
    bool tag_requested = false;
    std::optional<std::wstring> password;  // as last given
    DWORD sid_type = SERVICE_SID_TYPE_NONE;
    // The DACL as SDDL ("D:(A;;...;;;SY)..."). Empty: everyone has full
    // access. Otherwise opening the service grants what its entries give
    // the current user (see User).
    std::wstring sddl;
    // Access bits that opening the service always refuses, on top of sddl.
    DWORD denied_access = 0;
    DWORD state = SERVICE_STOPPED;
    bool marked_for_deletion = false;

    // Behaviour script, in virtual milliseconds.
    DWORD start_error = 0;          // StartServiceW fails with this
    uint64_t start_pending_ms = 0;  // time spent start-pending after a start
    DWORD start_outcome = SERVICE_RUNNING;  // state after start pending
    uint64_t run_ms = 0;           // 0: runs until stopped; else stops itself
    uint64_t stop_pending_ms = 0;  // time spent stop-pending after a stop
    DWORD stop_error = 0;          // ControlService(STOP) fails with this
    // A stop control during start pending: false refuses it with
    // ERROR_SERVICE_CANNOT_ACCEPT_CTRL like most services do.
    bool accepts_stop_while_start_pending = false;
    // Called inside StartServiceW after the start was accepted.
    std::function<void(Service&)> on_start;
    // Called when the service reaches the stopped state from another one:
    // its process ends and closes what it held.
    std::function<void(Service&)> on_stop;

    // Counters.
    int start_count = 0;
    int stop_controls = 0;

    // Internal: a pending transition.
    std::optional<uint64_t> transition_at;
    DWORD transition_to = 0;
  };

  // A file or directory. Hard links share one Node under several names.
  struct Node {
    bool directory = false;
    DWORD extra_attributes = 0;  // FILE_ATTRIBUTE_REPARSE_POINT: a junction
    // For a junction or mount point: the directory where paths through it
    // really land.
    std::wstring link_target;
    std::string contents;
    std::wstring owner;  // SID string or alias ("BA"), empty if unset
    // SDDL "D:..." as last set. Empty: no DACL, so everyone has full access.
    // Objects made through the simulated calls inherit from their parent.
    std::wstring dacl;
    DWORD last_security_information = 0;  // of the last security change
    int security_changes = 0;
    // The names (lower case) an elevated or SYSTEM caller of ours opened it
    // by.
    std::set<std::wstring> privileged_opens;
    // Another process holds it open for reading and writing, unshared: it
    // blocks every open that asks for read, write or delete access.
    bool locked_by_other = false;
    // Internal: the name a delete disposition removes when the object's
    // last handle closes; empty when no deletion is pending.
    std::wstring delete_pending_key;
  };
  // The user the simulated process runs as.
  struct User {
    std::wstring sid = L"S-1-5-21-1000000001-1000000002-1000000003-1001";
    bool elevated = false;  // member of the Administrators in the token
    bool system = false;    // runs as LocalSystem
    // A member of the Administrators running without elevation: the group
    // is in the token for deny entries only.
    bool filtered_admin = false;
  };

  // A recorded ShellExecuteExW call.
  struct ShellExecuteRecord {
    DWORD cb_size = 0;
    ULONG mask = 0;
    HWND window = nullptr;
    std::optional<std::wstring> verb;
    std::optional<std::wstring> file;
    std::optional<std::wstring> parameters;
    std::optional<std::wstring> directory;
    int show = -1;
    bool other_fields_zero = true;  // hInstApp, lpIDList, lpClass, ...
  };

  // What ShellExecuteExW does.
  struct ElevationScript {
    DWORD launch_error = 0;  // non-zero: the call fails with this
    bool return_process_handle = true;
    bool finishes = true;  // false: still active after any wait
    uint64_t run_ms = 0;   // virtual time the elevated copy takes
    // Runs the elevated copy; returns its exit code. The user is elevated
    // for the duration. Null: the copy exits 0 without doing anything.
    std::function<DWORD(const ShellExecuteRecord&)> run;
  };

  // A fake library for LoadLibraryExW / GetProcAddress.
  struct Library {
    std::map<std::string, FARPROC> exports;
  };

  SimulatedPlatform();
  ~SimulatedPlatform();
  SimulatedPlatform(const SimulatedPlatform&) = delete;
  SimulatedPlatform& operator=(const SimulatedPlatform&) = delete;

  // The one instance in force, or null.
  static SimulatedPlatform* Current();

  // --- Setup and inspection -------------------------------------------

  User& user() { return user_; }

  // Adds (or replaces) a service; the returned reference stays valid until
  // the service is deleted.
  Service& AddService(const std::wstring& name);
  // Finds a service by name (case-insensitive); null when there is none.
  Service* FindService(const std::wstring& name);

  // The program-data folder returned by SHGetKnownFolderPath; it exists as
  // a directory from the start.
  const std::wstring& program_data() const { return program_data_; }
  void SetProgramData(const std::wstring& path);

  Node& AddDirectory(const std::wstring& path);
  Node& AddFile(const std::wstring& path, const std::string& contents);
  // Finds a node by path (case-insensitive); null when there is none.
  Node* FindNode(const std::wstring& path);
  void RemoveNode(const std::wstring& path);
  // Contents of a file, or nullopt when there is no such file.
  std::optional<std::string> FileContents(const std::wstring& path);
  // Gives the file at `target` the second name `link` (a hard link).
  Node& AddHardLink(const std::wstring& link, const std::wstring& target);
  // Makes `path` a junction to the directory `target`.
  Node& AddJunction(const std::wstring& path, const std::wstring& target);
  // Number of names the file at `path` has; 0 when there is none.
  int LinkCount(const std::wstring& path);
  // The names directly inside the directory `path`, lower case, sorted.
  std::vector<std::wstring> Children(const std::wstring& path);
  // GetDriveTypeW's answer for `drive` (a letter); DRIVE_FIXED by default.
  void SetDriveType(wchar_t drive, UINT type);
  // The bus the storage query reports for the volume of `drive`; SATA by
  // default. The Windows directory is C:\Windows.
  void SetBusType(wchar_t drive, STORAGE_BUS_TYPE bus);

  // --- Another process: the attacker -------------------------------------
  // Called before each simulated call with its function name, so a test
  // can act between any two calls. Calls made from inside it are neither
  // hooked nor logged.
  std::function<void(const std::string& function)> before_call;
  // Runs `action` with `caller` as the identity every access check uses.
  // Inside before_call this is the attacker's process.
  void RunAs(const User& caller, const std::function<void()>& action);
  // What a process of the current caller can do by itself, checked like
  // Windows checks it; each returns 0 or the error. Its opens are native
  // ones (NtOpenFile), which add nothing to the access asked for, so the
  // attacker needs no SYNCHRONIZE where CreateFileW would ask for it.
  DWORD Rename(const std::wstring& from, const std::wstring& to);
  // Turns an empty directory into a mount point, or creates a junction. The
  // directory is opened for FILE_WRITE_ATTRIBUTES where the caller has that
  // right, else for FILE_WRITE_DATA, which handles kept open can block.
  DWORD MakeJunction(const std::wstring& path, const std::wstring& target);
  DWORD MakeHardLink(const std::wstring& link, const std::wstring& target);
  DWORD SetDacl(const std::wstring& path, const std::wstring& dacl);
  DWORD WriteContents(const std::wstring& path, const std::string& contents);
  std::optional<std::string> Read(const std::wstring& path);
  // A handle another process opened and keeps: it holds the access it was
  // granted whatever happens to the DACL later, and it is no leak.
  HANDLE OpenForeign(const std::wstring& path, DWORD access, DWORD share,
                     DWORD* error = nullptr);
  DWORD SetDaclByHandle(HANDLE handle, const std::wstring& dacl);
  // A service handle another process opened with the rights the service's
  // DACL gives the caller, and keeps: no leak. Null and `error` on failure.
  SC_HANDLE OpenForeignService(const std::wstring& name, DWORD access,
                               DWORD* error = nullptr);
  // Closes a handle from OpenForeign or OpenForeignService.
  void CloseForeign(void* handle);
  std::optional<std::string> ReadByHandle(HANDLE handle);
  // Real paths an elevated or SYSTEM caller created, wrote, deleted or
  // re-secured, in order.
  const std::vector<std::wstring>& privileged_changes() const {
    return privileged_changes_;
  }

  // Module path returned by GetModuleFileNameW. The executable and the
  // folders above it that do not exist yet are made, owned by trusted
  // principals and writable by nobody else (C:\Program Files with the
  // security Windows gives it).
  void SetModulePath(const std::wstring& path);
  const std::wstring& module_path() const { return module_path_; }

  // Registers a library that LoadLibraryExW finds by this exact path
  // (case-insensitive).
  void AddLibrary(const std::wstring& path, Library library);
  int loaded_libraries() const { return loaded_libraries_; }
  // The library at `path` needs `names` at load, each found as a registered
  // library in the folders its LOAD_LIBRARY_SEARCH_ flags name (its own,
  // the executable's, System32), or with none in the executable's folder,
  // System32, C:\Windows, then the folders of `search_path`. One not found
  // fails the load (ERROR_MOD_NOT_FOUND).
  void SetImports(const std::wstring& path, std::vector<std::wstring> names) {
    imports_[path] = std::move(names);
  }
  std::vector<std::wstring> search_path;  // the PATH folders, in order
  // True when the library at `path` was ever loaded, as a dependency too.
  bool WasLoaded(const std::wstring& path) const;

  // Makes LookupAccountSidW resolve `sid` (canonical text) to an account of
  // type `use`; other SIDs do not resolve (ERROR_NONE_MAPPED).
  void AddAccount(const std::wstring& sid, SID_NAME_USE use) {
    accounts_[sid] = use;
  }

  // The session attached to the console (0xFFFFFFFF while one is being
  // attached or detached) and the user signed in there, whose token
  // WTSQueryUserToken hands to SYSTEM; none when nobody is signed in.
  DWORD console_session = 1;
  std::optional<std::wstring> console_user;

  // WriteFile writes at most this many bytes per call while set.
  void SetWriteLimit(std::optional<DWORD> limit) { write_limit_ = limit; }

  ElevationScript& elevation() { return elevation_; }
  const std::vector<ShellExecuteRecord>& shell_executions() const {
    return shell_executions_;
  }

  // Virtual clock.
  uint64_t now() const { return now_; }
  void Advance(uint64_t ms);

  // --- Failure injection ------------------------------------------------
  // Makes `function` (a Platform field name, e.g. "OpenServiceW") fail with
  // `error`. Uses are counted from the moment the rule is added, from 1.
  // For functions that return a status (SetSecurityInfo) the status
  // is `error`; for SHGetKnownFolderPath it is HRESULT_FROM_WIN32(error);
  // NtOpenFile answers the NTSTATUS of access denied, sharing violation or
  // else invalid parameter.
  // A failing call changes nothing in the simulation.
  void FailAlways(const std::string& function, DWORD error);
  void FailOnce(const std::string& function, DWORD error) {
    FailOnUse(function, error, 1);
  }
  // Fails the `nth` use and the `times - 1` uses after it.
  void FailOnUse(const std::string& function, DWORD error, int nth,
                 int times = 1);
  // Makes converting exactly this SDDL text fail with `error`, whichever
  // conversion of the run it is.
  void FailToConvert(const std::wstring& sddl, DWORD error) {
    unconvertible_[sddl] = error;
  }
  void ClearFailures() {
    failures_.clear();
    unconvertible_.clear();
  }

  // --- Counters and log -------------------------------------------------
  int open_service_handles() const;  // manager and service handles
  int open_kernel_handles() const;   // tokens, processes, volumes
  int open_file_handles() const;
  int outstanding_local_blocks() const {
    return static_cast<int>(local_blocks_.size());
  }
  int outstanding_co_task_blocks() const {
    return static_cast<int>(co_task_blocks_.size());
  }
  // Closes or frees of values that were not open: double closes and such.
  int bad_releases() const { return bad_releases_; }
  // The access this process's open handles on the service manager, and on
  // services, hold right now (each the union over its handles): what an
  // operation keeps while it runs, read from a hook or a service's script.
  DWORD held_manager_access() const { return HeldAccess(HandleInfo::kManager); }
  DWORD held_service_access() const { return HeldAccess(HandleInfo::kService); }
  // Every name on the simulated disks (lower case; directories end in a
  // backslash) with its file's contents: a snapshot that shows a step
  // changed nothing.
  std::map<std::wstring, std::string> FileTree() const;
  // True when nothing is open or outstanding and nothing was released twice.
  bool AllReleased() const;
  // Describes what is still open, for test failure messages.
  std::string LeakReport() const;

  // One line per call, "Function(key arguments)", in call order, UTF-8.
  const std::vector<std::string>& calls() const { return calls_; }
  // The calls whose function name is `function`.
  std::vector<std::string> CallsTo(const std::string& function) const;
  int CountCalls(const std::string& function) const;
  void ClearCalls() { calls_.clear(); }

  // --- Simulated functions (called through the table) -------------------
  struct Impl;

 private:
  friend struct Impl;

  struct HandleInfo {
    enum Kind { kManager, kService, kToken, kProcess, kFile, kFind, kVolume };
    HandleInfo() = default;
    HandleInfo(Kind k, DWORD g) : kind(k), granted(g) {}
    Kind kind = kFile;
    DWORD granted = 0;
    std::wstring name;  // service name or file path
    DWORD exit_code = STILL_ACTIVE;
    uint64_t finishes_at = 0;
    bool finishes = true;
    uint64_t position = 0;            // file write position
    std::shared_ptr<Node> node;       // a file handle's object
    DWORD share = 0;                  // a file handle's share mode
    bool foreign = false;             // held by another process
    std::vector<std::wstring> found;  // a find handle's names
    size_t next_found = 0;
  };
  // Where a path really lands, junctions followed.
  struct Resolved {
    std::wstring key;            // node key; empty when the path is unusable
    std::shared_ptr<Node> node;  // null when missing
    DWORD error = 0;             // ERROR_PATH_NOT_FOUND, ERROR_FILE_NOT_FOUND
  };
  struct FailureRule {
    std::string function;
    DWORD error;
    int first;  // 0: every use
    int count;
    int base;  // use count when the rule was added
  };
  struct Block {
    std::vector<unsigned char> bytes;
  };

  DWORD HeldAccess(HandleInfo::Kind kind) const;
  // Returns the injected error for this use of `function`, or 0.
  DWORD NextFailure(const std::string& function);
  void Log(std::string line);
  void* NewHandle(HandleInfo info);
  HandleInfo* FindHandle(void* handle, HandleInfo::Kind kind);
  void AdvanceService(Service& service);
  void SetServiceState(Service& service, DWORD state);
  void RemoveIfDeleted(const std::wstring& key);
  DWORD GrantedServiceAccess(const Service& service) const;
  Resolved Resolve(const std::wstring& path, bool follow_final, int depth = 0);
  std::shared_ptr<Node> NodeAt(const std::wstring& key);
  std::wstring Display(const std::wstring& key);
  // Rights the caller holds on `node`, plus DELETE and FILE_READ_ATTRIBUTES
  // through the parent directory at `parent_key`, as Windows grants them.
  DWORD Rights(const Node& node, const std::wstring& parent_key) const;
  bool Grants(const Node& node, const std::wstring& parent_key,
              DWORD access) const;
  // The current caller's token, which every access check uses.
  Token CallerToken() const;
  bool SharingAllows(const std::shared_ptr<Node>& node, DWORD access,
                     DWORD share) const;
  // What an open of the existing object at `r` answers: 0 or the error.
  DWORD CheckOpen(const Resolved& r, DWORD access, DWORD share) const;
  // Renames the name `key` to `target` (a full path, or one relative to the
  // current directory) with the checks Windows makes once the object is
  // open for DELETE; returns 0 or the error. `key` is a copy: it may be a
  // handle's own name, which the move rewrites.
  DWORD MoveName(std::wstring key, const std::wstring& target, bool replace);
  // Removes the name of a pending deletion once its last handle is closed.
  void FinishPendingDelete(const std::shared_ptr<Node>& node);
  // The owner (`owner` when given, else the caller's default) and inherited
  // DACL of an object created by the caller.
  void InitNewObject(Node& node, const std::wstring& parent_key,
                     const std::wstring& owner = L"");
  void PropagateInheritance(const std::wstring& directory_key);
  void NotePrivileged(const std::wstring& key);
  void PutNode(const std::wstring& path, std::shared_ptr<Node> node);

  std::recursive_mutex mutex_;
  ScopedPlatform* scoped_ = nullptr;
  SimulatedPlatform* previous_ = nullptr;

  User user_;
  std::map<std::wstring, std::unique_ptr<Service>> services_;  // lower-case
  std::map<std::wstring, std::shared_ptr<Node>> nodes_;        // lower-case
  std::map<std::wstring, std::wstring> display_;  // key to path as created
  std::map<wchar_t, UINT> drive_types_;
  std::map<wchar_t, STORAGE_BUS_TYPE> bus_types_;
  uint32_t random_state_ = 0x5EED;
  std::vector<std::wstring> privileged_changes_;
  bool in_hook_ = false;
  std::map<std::wstring, Library> libraries_;  // lower-case
  std::map<void*, std::wstring> loaded_modules_;
  std::map<std::wstring, std::vector<std::wstring>> imports_;  // by path
  std::map<std::wstring, SID_NAME_USE> accounts_;  // canonical SID text
  int loaded_libraries_ = 0;
  std::wstring program_data_ = L"C:\\ProgramData";
  std::wstring module_path_ = L"C:\\Program Files\\Varn VPN\\varn_vpn.exe";
  std::optional<DWORD> write_limit_;
  ElevationScript elevation_;
  std::vector<ShellExecuteRecord> shell_executions_;

  uint64_t now_ = 5'000'000;
  uintptr_t next_handle_ = 0x5A000010;
  std::map<void*, HandleInfo> handles_;
  std::map<void*, Block> local_blocks_;
  std::map<void*, Block> co_task_blocks_;
  // Descriptors handed out: their DACL and owner pointers map back to text.
  struct Descriptor {
    std::wstring owner;
    std::wstring dacl;
    bool has_dacl = false;
  };
  std::map<void*, Descriptor> descriptors_;  // keyed by descriptor block
  int bad_releases_ = 0;

  std::map<std::string, int> uses_;
  std::vector<FailureRule> failures_;
  std::map<std::wstring, DWORD> unconvertible_;  // SDDL text to its error
  std::vector<std::string> calls_;
};

// Converts a wide test string to UTF-8 for messages.
std::string Narrow(const std::wstring& text);

}  // namespace tunnel_control::testing

#endif  // TESTS_TUNNEL_CONTROL_SUPPORT_SIMULATED_PLATFORM_H_
