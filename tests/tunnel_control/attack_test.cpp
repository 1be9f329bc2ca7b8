// A second, non-administrator user of the same machine, and the granted user
// itself, against the privileged modes: each row is one attack on install,
// connect, disconnect, uninstall or the service host. A row holds when the
// attacker gains nothing and nothing privileged changed outside the real
// data directory (and the folders old ones were moved aside to). Rows that
// race the install are tried with the attacker acting before each platform
// call in turn, as an opportunistic lock on a file of its own would let it.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/tunnel_control/client/service_control.h"
#include "app/tunnel_control/common/op_error.h"
#include "app/tunnel_control/common/tunnel_names.h"
#include "app/tunnel_control/installer/service_installer.h"
#include "app/tunnel_control/os/file_objects.h"
#include "app/tunnel_control/service_host/service_host.h"
#include "tests/tunnel_control/support/simulated_platform.h"

namespace tunnel_control::testing {
namespace {

using User = SimulatedPlatform::User;

constexpr char kKeyA[] = "[Interface]\nPrivateKey = key-of-user-a\n";
constexpr char kKeyB[] = "[Interface]\nPrivateKey = key-of-user-b\n";
constexpr wchar_t kSystemFolder[] = L"C:\\Windows\\Tasks";
constexpr wchar_t kSystemFile[] = L"C:\\Windows\\Tasks\\VarnVPN.conf";
constexpr wchar_t kAside[] = L"C:\\ProgramData\\VarnVPN.old";
constexpr wchar_t kLog[] = L"C:\\ProgramData\\VarnVPN\\log.bin";
constexpr wchar_t kMarker[] = L"C:\\ProgramData\\VarnVPN\\keep.txt";
constexpr wchar_t kNotes[] = L"C:\\Users\\a\\notes.txt";
// Outside the data directory, SYSTEM's, but its attributes writable by A:
// on current Windows the files A may hard-link to.
constexpr wchar_t kSharedFile[] = L"C:\\Users\\Public\\shared.dat";

const User kAdmin{L"S-1-5-21-100-200-300-500", true, false};
const User kSystem{L"S-1-5-18", false, true};
const User kA{kUserA, false, false};
const User kB{kUserB, false, false};

// What the tunnel library last read as its configuration.
std::optional<std::string> library_read;

// The tunnel library as far as the host's account matters: it reads the
// configuration and keeps its log beside it, as SYSTEM. It tries to start a
// new log by deleting the old one, as libraries may; the host's hold on the
// log must make that harmless.
BOOL WINAPI FakeTunnelService(LPCWSTR config_path) {
  const std::wstring config = config_path;
  HANDLE read = Os().CreateFileW(config.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
  if (read != INVALID_HANDLE_VALUE) {
    library_read = SimulatedPlatform::Current()->ReadByHandle(read);
    Os().CloseHandle(read);
  }
  const std::wstring log = config.substr(0, config.rfind(L'\\')) + L"\\log.bin";
  Os().DeleteFileW(log.c_str());
  HANDLE file = Os().CreateFileW(log.c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  DWORD written = 0;
  Os().WriteFile(file, "started", 7, &written, nullptr);
  Os().CloseHandle(file);
  return TRUE;
}

class Machine {
 public:
  Machine() {
    library_read.reset();
    // An administrators' folder outside the data directory, with a file of
    // the same name as the configuration.
    SimulatedPlatform::Node& folder = sim.AddDirectory(kSystemFolder);
    folder.owner = L"SY";
    folder.dacl = L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    SimulatedPlatform::Node& file = sim.AddFile(kSystemFile, "system data");
    file.owner = L"SY";
    file.dacl = L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)";
    sim.AddFile(kNotes, "notes of user a").owner = kUserA;
    SimulatedPlatform::Node& shared = sim.AddFile(kSharedFile, "shared");
    shared.owner = L"SY";
    shared.dacl = L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x120189;;;" +
                  std::wstring(kUserA) + L")";
    const std::wstring exe = sim.module_path();
    sim.AddLibrary(exe.substr(0, exe.rfind(L'\\')) + L"\\tunnel.dll",
                   {{{"WireGuardTunnelService",
                      reinterpret_cast<FARPROC>(&FakeTunnelService)}}});
  }

  int Install(const std::wstring& sid) {
    int code = -1;
    sim.RunAs(kAdmin, [&] { code = RunInstallMode(sid); });
    return code;
  }
  bool Connect(const User& user, const std::string& config) {
    sim.elevation().run = [this, &user](const auto&) -> DWORD {
      return static_cast<DWORD>(RunInstallMode(user.sid));
    };
    bool connected = false;
    sim.RunAs(user, [&] {
      OpError error;
      connected = ConnectTunnel(config, &error);
    });
    return connected;
  }
  bool Disconnect(const User& user) {
    bool done = false;
    sim.RunAs(user, [&] {
      OpError error;
      done = DisconnectTunnel(&error);
    });
    return done;
  }
  // As an administrator, or as SYSTEM when the package is removed.
  int Uninstall(const User& who = kAdmin) {
    int code = -1;
    sim.RunAs(who, [&] { code = RunUninstallMode(); });
    return code;
  }
  // The tunnel library starts a new log, as libraries do: the old one goes,
  // SYSTEM creates another.
  void RotateLog() {
    sim.RunAs(kSystem, [&] {
      Os().DeleteFileW(kLog);
      HANDLE file = Os().CreateFileW(kLog, GENERIC_WRITE, FILE_SHARE_READ,
                                     nullptr, CREATE_NEW, 0, nullptr);
      if (file != INVALID_HANDLE_VALUE) Os().CloseHandle(file);
    });
  }
  int Host() {
    int code = -1;
    sim.RunAs(kSystem, [&] { code = RunServiceMode(L""); });
    return code;
  }
  // Runs `action` as `user` and returns its error, 0 on success.
  DWORD As(const User& user, const std::function<DWORD()>& action) {
    DWORD result = 0;
    sim.RunAs(user, [&] { result = action(); });
    return result;
  }
  std::optional<std::string> ReadAs(const User& user,
                                    const std::wstring& path) {
    std::optional<std::string> contents;
    sim.RunAs(user, [&] { contents = sim.Read(path); });
    return contents;
  }
  // The granted user swaps the data directory for a junction to `target`.
  DWORD Redirect(const User& user, const std::wstring& target) {
    return As(user, [&] {
      if (DWORD e = sim.Rename(kDataDirectory, kAside)) return e;
      return sim.MakeJunction(kDataDirectory, target);
    });
  }
  // True when a service is registered to run an executable under `folder`.
  bool ServiceRunsFrom(const std::wstring& folder) {
    const SimulatedPlatform::Service* service =
        sim.FindService(kTunnelServiceName);
    return service != nullptr &&
           service->binary_path.find(folder) != std::wstring::npos;
  }
  // Runs `attack` as `who` right before the pause-th platform call from
  // now on, once, until Disarm(); attacked() tells whether it ran.
  void AttackAt(int pause, const User& who, std::function<void()> attack) {
    int seen = 0;
    attacked_ = false;
    sim.before_call = [this, pause, who, attack,
                       seen](const std::string&) mutable {
      if (++seen != pause) return;
      attacked_ = true;
      sim.RunAs(who, attack);
    };
  }
  void Disarm() { sim.before_call = nullptr; }
  bool attacked() const { return attacked_; }
  // Privileged changes outside the data directory and the folders old ones
  // were moved aside to, as one text.
  std::string OutsideChanges() {
    const std::wstring inside = std::wstring(kDataDirectory) + L"\\";
    const std::wstring aside = std::wstring(kDataDirectory) + L".old-";
    std::string outside;
    for (const std::wstring& path : sim.privileged_changes()) {
      if (_wcsicmp(path.c_str(), kDataDirectory) == 0 ||
          _wcsnicmp(path.c_str(), inside.c_str(), inside.size()) == 0 ||
          _wcsnicmp(path.c_str(), aside.c_str(), aside.size()) == 0) {
        continue;
      }
      outside += testing::Narrow(path) + " ";
    }
    return outside;
  }

  SimulatedPlatform sim;

 private:
  bool attacked_ = false;
};

// A user-owned folder for the executable, optionally reached otherwise.
void PlaceAppIn(Machine& m, const std::wstring& folder,
                const std::wstring& owner) {
  SimulatedPlatform::Node& node = m.sim.AddDirectory(folder);
  node.owner = owner;
  node.dacl =
      L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + owner + L")";
  m.sim.SetModulePath(folder + L"\\varn_vpn.exe");
}

// B takes the data directory's name with a folder of its own, a file in it,
// and a DACL naming only B: the administrators are shut out of it. Runs as
// B; returns 0 or the error.
constexpr wchar_t kSquatFile[] = L"C:\\ProgramData\\VarnVPN\\x";
const std::wstring kOnlyB = L"D:P(A;OICI;FA;;;" + std::wstring(kUserB) + L")";
DWORD SquatShuttingOut(Machine& m) {
  if (!Os().CreateDirectoryW(kDataDirectory, nullptr)) return ::GetLastError();
  if (DWORD e = m.sim.WriteContents(kSquatFile, "b's")) return e;
  return m.sim.SetDacl(kDataDirectory, kOnlyB);
}

// What the installer did to B's squats: each must have been renamed aside
// and never entered, its DACL and file as B left them.
std::string SquatsTouched(Machine& m) {
  for (const std::wstring& name : m.sim.Children(L"C:\\ProgramData")) {
    const std::wstring path = L"C:\\ProgramData\\" + name;
    const SimulatedPlatform::Node* node = m.sim.FindNode(path);
    if (node->owner != kUserB) continue;
    if (name.rfind(L"varnvpn.old-", 0) != 0) return "B's folder keeps the name";
    const std::optional<std::string> kept =
        node->directory ? m.sim.FileContents(path + L"\\x") : node->contents;
    if (node->dacl != kOnlyB || node->security_changes != 1 || kept != "b's") {
      return "B's folder changed";
    }
    // Opened only at the name it was found at, to be moved by that handle;
    // nothing inside it at all.
    const SimulatedPlatform::Node* inside = m.sim.FindNode(path + L"\\x");
    const std::set<std::wstring> found_at = {L"c:\\programdata\\varnvpn"};
    if ((!node->privileged_opens.empty() &&
         node->privileged_opens != found_at) ||
        (inside != nullptr && !inside->privileged_opens.empty())) {
      return "the installer entered B's folder";
    }
  }
  return "";
}

// Installs while B holds `held` open without delete sharing, which keeps the
// name (exit 12), then again once B lets go (exit 0).
std::string HeldThenFreed(Machine& m, HANDLE held) {
  const int while_held = m.Install(kUserA);
  m.sim.CloseForeign(held);
  if (while_held != kInstallDirectoryFailed) {
    return "install exited " + std::to_string(while_held) + " while held";
  }
  if (m.Install(kUserA) != kInstallSucceeded) return "no install possible";
  return SquatsTouched(m);
}

struct Attack {
  const char* name;
  // Sets the machine up and runs the privileged operation, the attacker
  // acting before, during (through before_call) and after it. Returns what
  // the attacker gained, empty when nothing.
  std::function<std::string(Machine&)> run;
};

const Attack kAttacks[] = {
    // --- The install location -------------------------------------------
    {"bundle in a folder the other user owns",
     [](Machine& m) {
       PlaceAppIn(m, L"C:\\Users\\b\\Downloads\\varn", kUserB);
       m.Install(kUserA);
       return m.ServiceRunsFrom(L"C:\\Users\\b") ? "SYSTEM runs B's folder"
                                                 : "";
     }},
    {"bundle folder writable by all users",
     [](Machine& m) {
       m.sim.FindNode(L"C:\\Program Files\\Varn VPN")->dacl +=
           L"(A;OICI;0x1301BF;;;AU)";
       m.Install(kUserA);
       return m.ServiceRunsFrom(L"Varn VPN") ? "users may add DLLs" : "";
     }},
    {"a DLL beside the exe writable by users",
     [](Machine& m) {
       SimulatedPlatform::Node& dll =
           m.sim.AddFile(L"C:\\Program Files\\Varn VPN\\dwmapi.dll", "MZ");
       dll.owner = L"BA";
       dll.dacl = L"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1301BF;;;BU)";
       m.Install(kUserA);
       return m.ServiceRunsFrom(L"Varn VPN") ? "users may replace a DLL" : "";
     }},
    {"folder above lets users rename the bundle folder",
     [](Machine& m) {
       SimulatedPlatform::Node& apps = m.sim.AddDirectory(L"C:\\Apps");
       apps.owner = L"BA";
       apps.dacl =
           L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301FF;;;AU)";
       m.sim.SetModulePath(L"C:\\Apps\\Varn\\varn_vpn.exe");
       m.Install(kUserA);
       return m.ServiceRunsFrom(L"C:\\Apps") ? "users may swap C:\\Apps\\Varn"
                                             : "";
     }},
    {"bundle started through a junction the other user owns",
     [](Machine& m) {
       m.sim.AddJunction(L"C:\\Users\\b\\link", L"C:\\Program Files\\Varn VPN")
           .owner = kUserB;
       m.sim.SetModulePath(L"C:\\Users\\b\\link\\varn_vpn.exe");
       m.Install(kUserA);
       return m.ServiceRunsFrom(L"C:\\Users\\b") ? "B may retarget the link"
                                                 : "";
     }},
    {"bundle on a network drive",
     [](Machine& m) {
       m.sim.SetDriveType(L'N', DRIVE_REMOTE);
       m.sim.SetModulePath(L"N:\\varn\\varn_vpn.exe");
       m.Install(kUserA);
       return m.ServiceRunsFrom(L"N:\\") ? "the share's owner decides" : "";
     }},
    {"bundle on a removable drive",
     [](Machine& m) {
       m.sim.SetDriveType(L'E', DRIVE_REMOVABLE);
       m.sim.SetModulePath(L"E:\\varn\\varn_vpn.exe");
       m.Install(kUserA);
       return m.ServiceRunsFrom(L"E:\\") ? "whoever holds the stick decides"
                                         : "";
     }},
    {"percent sign in the path",
     [](Machine& m) {
       m.sim.SetModulePath(L"C:\\Program Files\\%TEMP%\\varn_vpn.exe");
       m.Install(kUserA);
       return m.ServiceRunsFrom(L"%TEMP%") ? "the manager may expand %TEMP%"
                                           : "";
     }},

    // --- The data directory at install ------------------------------------
    {"squatted folder swapped for a junction during the install",
     [](Machine& m) {
       m.As(kB, [] {
         return Os().CreateDirectoryW(kDataDirectory, nullptr)
                    ? 0
                    : ::GetLastError();
       });
       // Between the checks and the security change; the last name is how
       // the directory's DACL was once set, by path.
       bool swapped = false;
       m.sim.before_call = [&](const std::string& function) {
         if (swapped ||
             (function != "SetNamedSecurityInfoW" &&
              function != "GetSecurityInfo" && function != "SetSecurityInfo")) {
           return;
         }
         swapped = m.Redirect(kB, kSystemFolder) == 0;
       };
       m.Install(kUserA);
       m.sim.before_call = nullptr;
       return m.sim.FindNode(kSystemFolder)->security_changes != 0
                  ? "a system folder's DACL changed"
                  : "";
     }},
    {"planted configuration in a squatted folder",
     [](Machine& m) {
       m.As(kB, [&] {
         if (!Os().CreateDirectoryW(kDataDirectory, nullptr)) {
           return ::GetLastError();
         }
         if (DWORD e = m.sim.WriteContents(kConfigPath, "")) return e;
         return m.sim.SetDacl(kConfigPath, L"D:P(A;;FA;;;WD)");
       });
       m.Connect(kA, kKeyA);
       return m.ReadAs(kB, kConfigPath) == kKeyA ? "B reads A's key" : "";
     }},
    {"squatter's handle keeps WRITE_DAC",
     [](Machine& m) {
       HANDLE handle = INVALID_HANDLE_VALUE;
       m.As(kB, [&] {
         if (!Os().CreateDirectoryW(kDataDirectory, nullptr)) {
           return ::GetLastError();
         }
         DWORD error = 0;
         handle = m.sim.OpenForeign(
             kDataDirectory, WRITE_DAC,
             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &error);
         return error;
       });
       m.Install(kUserA);
       m.As(kB, [&] {
         return m.sim.SetDaclByHandle(handle, L"D:P(A;OICI;FA;;;WD)");
       });
       m.Connect(kA, kKeyA);
       return m.ReadAs(kB, kConfigPath) == kKeyA ? "B reads A's key" : "";
     }},

    // --- A granted user turned attacker -----------------------------------
    {"previous user re-grants itself read on its old file",
     [](Machine& m) {
       m.Connect(kA, kKeyA);
       m.Connect(kB, kKeyB);
       m.As(kA, [] {
         return SimulatedPlatform::Current()->SetDacl(
             kConfigPath, L"D:P(A;;FA;;;" + std::wstring(kUserA) + L")");
       });
       return m.ReadAs(kA, kConfigPath) == kKeyB ? "A reads B's key" : "";
     }},
    {"previous user leaves a hard link to its own file",
     [](Machine& m) {
       m.Connect(kA, kKeyA);
       m.Disconnect(kA);
       m.As(kA, [&] {
         return m.sim.MakeHardLink(kConfigPath, L"C:\\Users\\a\\notes.txt");
       });
       m.Connect(kB, kKeyB);
       // Still the file's owner, A can always let itself in again.
       m.As(kA, [&] {
         return m.sim.SetDacl(L"C:\\Users\\a\\notes.txt",
                              L"D:(A;;FA;;;" + std::wstring(kUserA) + L")");
       });
       return m.ReadAs(kA, L"C:\\Users\\a\\notes.txt") == kKeyB
                  ? "A reads B's key"
                  : "";
     }},
    {"granted user redirects the directory under the service",
     [](Machine& m) {
       m.Connect(kA, kKeyA);
       m.Redirect(kA, kSystemFolder);
       m.Host();
       return m.sim.FileContents(L"C:\\Windows\\Tasks\\log.bin")
                  ? "SYSTEM wrote into a system folder"
                  : "";
     }},
    {"granted user makes the emptied directory a mount point",
     [](Machine& m) {
       m.Connect(kA, kKeyA);
       m.Disconnect(kA);
       m.As(kA, [&] {
         for (const std::wstring& name : m.sim.Children(kDataDirectory)) {
           const std::wstring path =
               std::wstring(kDataDirectory) + L"\\" + name;
           if (!Os().DeleteFileW(path.c_str())) return ::GetLastError();
         }
         return m.sim.MakeJunction(kDataDirectory, kSystemFolder);
       });
       m.Host();
       return m.sim.FileContents(L"C:\\Windows\\Tasks\\log.bin")
                  ? "SYSTEM wrote into a system folder"
                  : "";
     }},
    {"granted user swaps the tunnel's log for a hard link to a system file",
     [](Machine& m) {
       m.Connect(kA, kKeyA);
       m.As(kA, [&] {
         Os().DeleteFileW(kLog);
         return m.sim.MakeHardLink(kLog, kSystemFile);
       });
       m.Host();
       return m.sim.FileContents(kSystemFile) != "system data"
                  ? "SYSTEM wrote into a system file"
                  : "";
     }},
    {"granted user redirects the directory before an uninstall",
     [](Machine& m) {
       m.Connect(kA, kKeyA);
       m.Redirect(kA, kSystemFolder);
       m.Uninstall();
       return m.sim.FindNode(kSystemFile) == nullptr
                  ? "an administrator deleted a system file"
                  : "";
     }},
    {"tunnel's log rotated, then swapped for a hard link",
     [](Machine& m) {
       m.Connect(kA, kKeyA);
       m.RotateLog();
       m.As(kA, [&] {
         Os().DeleteFileW(kLog);
         return m.sim.MakeHardLink(kLog, kNotes);
       });
       m.Host();
       return m.sim.FileContents(kNotes) != "notes of user a"
                  ? "SYSTEM wrote through A's link"
                  : "";
     }},
    {"uninstall while the tunnel holds the configuration open",
     [](Machine& m) {
       m.Connect(kA, kKeyA);
       SimulatedPlatform::Service* service =
           m.sim.FindService(kTunnelServiceName);
       HANDLE held = INVALID_HANDLE_VALUE;
       m.sim.RunAs(kSystem, [&] {
         held = m.sim.OpenForeign(kConfigPath, FILE_READ_DATA, FILE_SHARE_READ);
       });
       service->on_stop = [&](SimulatedPlatform::Service&) {
         m.sim.CloseForeign(held);
       };
       m.Uninstall();
       return m.sim.FindNode(kConfigPath) ? "the private key stays on disk"
                                          : "";
     }},
    {"configuration replaced by a hard link",
     [](Machine& m) {
       m.Connect(kA, kKeyA);
       m.As(kA, [&] {
         Os().DeleteFileW(kConfigPath);
         return m.sim.MakeHardLink(kConfigPath, kNotes);
       });
       return m.Host() != kServiceConfigRefused || m.sim.loaded_libraries() != 0
                  ? "SYSTEM hands A's link to the tunnel library"
                  : "";
     }},
    {"bundle on a USB disk that reports itself fixed",
     [](Machine& m) {
       m.sim.SetBusType(L'E', BusTypeUsb);
       m.sim.SetModulePath(L"E:\\varn\\varn_vpn.exe");
       m.Install(kUserA);
       return m.ServiceRunsFrom(L"E:\\") ? "whoever holds the disk decides"
                                         : "";
     }},
    {"folder squatted before the first install",
     [](Machine& m) {
       m.As(kB, [&] {
         if (!Os().CreateDirectoryW(kDataDirectory, nullptr)) {
           return ::GetLastError();
         }
         return m.sim.WriteContents(std::wstring(kDataDirectory) + L"\\x", "");
       });
       return m.Install(kUserA) != kInstallSucceeded ? "no install possible"
                                                     : "";
     }},
    {"folder squatted with a DACL that shuts the administrators out",
     [](Machine& m) -> std::string {
       m.As(kB, [&] { return SquatShuttingOut(m); });
       if (m.Install(kUserA) != kInstallSucceeded) return "no install possible";
       return SquatsTouched(m);
     }},
    {"shut-out folder with a file held open inside: 12, then 0",
     [](Machine& m) {
       HANDLE held = INVALID_HANDLE_VALUE;
       m.As(kB, [&] {
         if (DWORD e = SquatShuttingOut(m)) return e;
         DWORD error = 0;
         held = m.sim.OpenForeign(kSquatFile, FILE_READ_DATA, FILE_SHARE_READ,
                                  &error);
         return error;
       });
       return HeldThenFreed(m, held);
     }},
    {"a file at the name held open without delete sharing: 12, then 0",
     [](Machine& m) {
       HANDLE held = INVALID_HANDLE_VALUE;
       m.As(kB, [&] {
         if (DWORD e = m.sim.WriteContents(kDataDirectory, "b's")) return e;
         if (DWORD e = m.sim.SetDacl(kDataDirectory, kOnlyB)) return e;
         DWORD error = 0;
         held = m.sim.OpenForeign(kDataDirectory, FILE_READ_DATA,
                                  FILE_SHARE_READ, &error);
         return error;
       });
       return HeldThenFreed(m, held);
     }},
    {"the package's removal, as SYSTEM, while the tunnel runs",
     [](Machine& m) {
       m.Connect(kA, kKeyA);
       if (m.Uninstall(kSystem) != kUninstallSucceeded) {
         return "the service survives the package's removal";
       }
       return m.sim.FindService(kTunnelServiceName) ||
                      m.sim.FindNode(kConfigPath)
                  ? "the service or the private key stays"
                  : "";
     }},
    {"subfolder left under an older access list",
     [](Machine& m) {
       m.Install(kUserA);
       const std::wstring sub = std::wstring(kDataDirectory) + L"\\sub";
       m.sim.AddDirectory(sub).owner = kUserA;
       m.sim.AddFile(sub + L"\\x", "x").owner = kUserA;
       return m.Install(kUserA) != kInstallSucceeded ? "no install possible"
                                                     : "";
     }},
    {"someone's handle keeps the removed service marked for deletion",
     [](Machine& m) {
       m.Connect(kA, kKeyA);
       SC_HANDLE handle = nullptr;
       m.sim.RunAs(kA, [&] {
         handle = m.sim.OpenForeignService(
             kTunnelServiceName,
             SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
       });
       const int first = m.Uninstall();
       const int second = m.Uninstall();
       const DWORD start = m.As(kA, [&]() -> DWORD {
         return Os().StartServiceW(handle, 0, nullptr) ? 0 : ::GetLastError();
       });
       m.sim.CloseForeign(handle);
       if (first != kUninstallSucceeded || second != kUninstallSucceeded) {
         return std::string("the package's removal fails");
       }
       return start == 0 ? std::string("A starts the removed service")
                         : std::string();
     }},
    {"granted user connects once from an elevated copy of the app",
     [](Machine& m) {
       const User elevated_a{kUserA, true, false};
       m.Connect(elevated_a, kKeyA);
       const size_t prompts = m.sim.shell_executions().size();
       if (!m.Connect(kA, kKeyB)) return "later connects fail";
       return m.sim.shell_executions().size() != prompts
                  ? "later connects prompt"
                  : "";
     }},
    {"configuration owned by the Administrators in a kept directory",
     [](Machine& m) {
       m.Connect(kA, kKeyA);
       // As an elevated write of an older version left it.
       SimulatedPlatform::Node* config = m.sim.FindNode(kConfigPath);
       config->owner = L"BA";
       config->dacl =
           L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1301BF;;;BA)"
           L"(A;ID;FR;;;" +
           std::wstring(kUserA) + L")";
       const bool first = m.Connect(kA, kKeyB);
       const size_t prompts = m.sim.shell_executions().size();
       const bool second = m.Connect(kA, kKeyA);
       if (!first || !second) return "connects fail";
       return m.sim.shell_executions().size() != prompts
                  ? "every connect prompts"
                  : "";
     }},
    {"data directory left as a junction, then uninstall",
     [](Machine& m) {
       m.sim.AddJunction(kDataDirectory, kSystemFolder);
       m.Uninstall();
       return m.sim.FindNode(kSystemFile) == nullptr
                  ? "an administrator deleted a system file"
                  : "";
     }},
};

// Attacks on the install, made at a pause before one platform call of it.
struct Race {
  const char* name;
  // Sets the machine up, arms the attack for the pause-th call with
  // AttackAt, runs the privileged operation and returns what the attacker
  // gained, empty when nothing.
  std::function<std::string(Machine&, int pause)> run;
};

// A's attempt to turn the data directory into a mount point of a system
// folder: a file added and moved out, the emptied directory mounted.
void MountDataDirectory(Machine& m) {
  const std::wstring planted = std::wstring(kDataDirectory) + L"\\x";
  if (m.sim.WriteContents(planted, "x") == 0) {
    m.sim.Rename(planted, L"C:\\Users\\a\\x");
  }
  m.sim.MakeJunction(kDataDirectory, kSystemFolder);
}

// What SYSTEM's later work does to the system folder.
std::string AfterwardsAsSystem(Machine& m) {
  m.Host();
  if (m.sim.FileContents(std::wstring(kSystemFolder) + L"\\log.bin")) {
    return "SYSTEM wrote into a system folder";
  }
  const SimulatedPlatform::Node* directory = m.sim.FindNode(kDataDirectory);
  if (directory && directory->extra_attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return "the data directory is a mount point";
  }
  return m.sim.FindNode(kSystemFile) ? "" : "a system file was deleted";
}

const Race kRaces[] = {
    {"service host: the log's name taken while the library renews it",
     [](Machine& m, int pause) {
       m.Connect(kA, kKeyA);
       m.AttackAt(pause, kA, [&] { m.sim.WriteContents(kLog, "mine"); });
       m.Host();
       m.Disarm();
       const SimulatedPlatform::Node* log = m.sim.FindNode(kLog);
       if (log != nullptr && log->owner == kUserA) {
         return std::string("A owns the log SYSTEM writes");
       }
       return std::string();
     }},
    {"service host: the configuration swapped for a link",
     [](Machine& m, int pause) {
       m.Connect(kA, kKeyA);
       m.AttackAt(pause, kA, [&] {
         if (Os().DeleteFileW(kConfigPath)) {
           m.sim.MakeHardLink(kConfigPath, kSharedFile);
         }
       });
       library_read.reset();
       m.Host();
       m.Disarm();
       return library_read == "shared" ? "SYSTEM read a file A chose" : "";
     }},
    {"first install: the emptied directory mounted",
     [](Machine& m, int pause) {
       m.AttackAt(pause, kA, [&] { MountDataDirectory(m); });
       m.Install(kUserA);
       m.Disarm();
       return AfterwardsAsSystem(m);
     }},
    {"first install: the user's own marker, later removed",
     [](Machine& m, int pause) {
       m.AttackAt(pause, kA, [&] {
         m.sim.WriteContents(kMarker, "mine");
         m.sim.WriteContents(kLog, "mine");
       });
       m.Install(kUserA);
       m.Disarm();
       m.RotateLog();
       m.As(kA, [&] {
         Os().DeleteFileW(kMarker);
         Os().DeleteFileW(kLog);
         return m.sim.MakeJunction(kDataDirectory, kSystemFolder);
       });
       return AfterwardsAsSystem(m);
     }},
    {"re-install: a hard link to a file outside",
     [](Machine& m, int pause) {
       m.Connect(kA, kKeyA);
       m.AttackAt(pause, kA, [&] {
         m.sim.MakeHardLink(std::wstring(kDataDirectory) + L"\\shared.dat",
                            kSharedFile);
       });
       const std::wstring before = m.sim.FindNode(kSharedFile)->dacl;
       m.Install(kUserA);
       m.Disarm();
       return m.sim.FindNode(kSharedFile)->dacl != before
                  ? "the outside file's access list changed"
                  : "";
     }},
    {"user switch: the previous user's service handle",
     [](Machine& m, int pause) {
       m.Connect(kA, kKeyA);
       SC_HANDLE handle = nullptr;
       m.AttackAt(pause, kA, [&] {
         if (handle == nullptr) {
           handle = m.sim.OpenForeignService(kTunnelServiceName,
                                             SERVICE_START | SERVICE_STOP);
         }
       });
       bool connected = m.Connect(kB, kKeyB);
       m.Disarm();
       if (!connected) {
         // Until A's handle closes, the old service stays marked.
         m.sim.CloseForeign(handle);
         handle = nullptr;
         connected = m.Connect(kB, kKeyB);
       }
       SERVICE_STATUS status{};
       const bool stopped = handle != nullptr && m.As(kA, [&]() -> DWORD {
         return Os().ControlService(handle, SERVICE_CONTROL_STOP, &status) ? 0
                                                                           : 1;
       }) == 0;
       m.sim.CloseForeign(handle);
       if (!connected) return std::string("B cannot connect");
       return stopped ? std::string("A stops B's tunnel") : std::string();
     }},
    {"user switch: the previous user's directory handle",
     [](Machine& m, int pause) {
       m.Connect(kA, kKeyA);
       HANDLE handle = INVALID_HANDLE_VALUE;
       m.AttackAt(pause, kA, [&] {
         if (handle == INVALID_HANDLE_VALUE) {
           handle = m.sim.OpenForeign(
               kDataDirectory, FILE_LIST_DIRECTORY,
               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
         }
       });
       const bool connected = m.Connect(kB, kKeyB);
       m.Disarm();
       std::wstring listed;
       if (handle != INVALID_HANDLE_VALUE) {
         m.sim.RunAs(kA, [&] { listed = FinalPath(handle); });
       }
       m.sim.CloseForeign(handle);
       if (!connected) return std::string("B cannot connect");
       return SamePath(listed, kDataDirectory)
                  ? std::string("A lists B's directory")
                  : std::string();
     }},
    {"squatted name swapped for a junction during the install",
     [](Machine& m, int pause) {
       m.As(kB, [] {
         return Os().CreateDirectoryW(kDataDirectory, nullptr)
                    ? 0
                    : ::GetLastError();
       });
       m.AttackAt(pause, kB, [&] { m.Redirect(kB, kSystemFolder); });
       m.Connect(kA, kKeyA);
       m.Disarm();
       return AfterwardsAsSystem(m);
     }},
    {"first install: a squatter who shuts the administrators out",
     [](Machine& m, int pause) {
       m.As(kB, [&] { return SquatShuttingOut(m); });
       m.AttackAt(pause, kB, [&] { SquatShuttingOut(m); });
       const bool connected = m.Connect(kA, kKeyA);
       m.Disarm();
       if (!connected) return std::string("no install possible");
       if (m.ReadAs(kB, kConfigPath) == kKeyA)
         return std::string("B reads A's key");
       return SquatsTouched(m);
     }},
};

TEST(AttackTest, RacingTheInstallAtEveryCallGainsNothing) {
  for (const Race& race : kRaces) {
    for (int pause = 1;; ++pause) {
      SCOPED_TRACE(std::string(race.name) + ", before call " +
                   std::to_string(pause));
      Machine m;
      const std::string gained = race.run(m, pause);
      m.Disarm();
      if (!m.attacked()) break;
      const std::string outside = m.OutsideChanges();
      EXPECT_EQ(gained, "");
      EXPECT_EQ(outside, "");
      if (!gained.empty() || !outside.empty()) break;
    }
  }
}

TEST(AttackTest, EveryAttackFails) {
  for (const Attack& attack : kAttacks) {
    SCOPED_TRACE(attack.name);
    Machine m;
    EXPECT_EQ(attack.run(m), "");
    EXPECT_EQ(m.OutsideChanges(), "");
  }
}

// The same machine without an attacker: what the rows build on still works.
TEST(AttackTest, UndisturbedUsersStillConnect) {
  Machine m;
  ASSERT_TRUE(m.Connect(kA, kKeyA));
  EXPECT_EQ(m.ReadAs(kA, kConfigPath), kKeyA);
  EXPECT_EQ(m.ReadAs(kB, kConfigPath), std::nullopt);
  ASSERT_TRUE(m.Connect(kB, kKeyB));
  EXPECT_EQ(m.ReadAs(kB, kConfigPath), kKeyB);
  EXPECT_EQ(m.ReadAs(kA, kConfigPath), std::nullopt);
  EXPECT_EQ(m.Host(), kServiceSucceeded);
  EXPECT_EQ(m.sim.FileContents(kLog), "started");
  EXPECT_TRUE(m.Disconnect(kB));
  EXPECT_EQ(m.sim.FindNode(kConfigPath), nullptr);
  EXPECT_EQ(m.Uninstall(), kUninstallSucceeded);
  EXPECT_EQ(m.OutsideChanges(), "");
}

}  // namespace
}  // namespace tunnel_control::testing
