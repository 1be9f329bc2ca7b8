// The "/service" mode against the simulated platform with a fake tunnel
// library.
#include "app/tunnel_control/service_host/service_host.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tests/tunnel_control/support/simulated_test.h"

namespace tunnel_control::testing {
namespace {

constexpr wchar_t kLibrary[] = L"C:\\Program Files\\Varn VPN\\tunnel.dll";
constexpr wchar_t kConfig[] = L"C:\\Tunnel\\c.conf";
constexpr wchar_t kLog[] = L"C:\\Tunnel\\log.bin";
constexpr wchar_t kUser[] = L"S-1-5-21-100-200-300-1001";
const SimulatedPlatform::User kSystem{L"S-1-5-18", false, true};

// What the fake export saw, and what it answers.
std::wstring received_path;
int calls = 0;
BOOL answer = TRUE;
// Run inside the library's call, while the host holds its files.
std::function<void()> while_running;

BOOL WINAPI FakeTunnelService(LPCWSTR config_path) {
  ++calls;
  received_path = config_path;
  if (while_running) while_running();
  return answer;
}

class ServiceHostTest : public testing::SimulatedTest {
 protected:
  void SetUp() override {
    sim_.AddDirectory(L"C:\\Tunnel");
    sim_.AddFile(kConfig, "[Interface]");
    received_path.clear();
    calls = 0;
    answer = TRUE;
    while_running = nullptr;
  }
  void AddTunnelLibrary(const std::wstring& path) {
    SimulatedPlatform::Library library;
    library.exports["WireGuardTunnelService"] =
        reinterpret_cast<FARPROC>(&FakeTunnelService);
    sim_.AddLibrary(path, library);
  }
};

TEST_F(ServiceHostTest, LibraryPathIsBesideTheExecutable) {
  EXPECT_EQ(TunnelLibraryPath(L"C:\\Program Files\\Varn VPN\\varn_vpn.exe"),
            kLibrary);
  EXPECT_EQ(TunnelLibraryPath(L"C:\\varn_vpn.exe"), L"C:\\tunnel.dll");
  EXPECT_EQ(TunnelLibraryPath(L"\\\\server\\share\\a b\\x.exe"),
            L"\\\\server\\share\\a b\\tunnel.dll");
  EXPECT_EQ(TunnelLibraryPath(L"varn_vpn.exe"), L"");
}

TEST_F(ServiceHostTest, HandsTheGivenPathOverUnchanged) {
  AddTunnelLibrary(kLibrary);
  // The library's dependencies come from its folder and System32.
  sim_.SetImports(kLibrary, {L"wintun.dll", L"bcrypt.dll"});
  sim_.AddLibrary(L"C:\\Program Files\\Varn VPN\\wintun.dll", {});
  sim_.AddLibrary(L"C:\\Windows\\System32\\bcrypt.dll", {});
  sim_.AddDirectory(L"D:\\caf\u00e9");
  const std::wstring path = L"D:\\caf\u00e9\\a b.conf";
  sim_.AddFile(path, "x");
  // The given path is used as is: the default is not even computed.
  sim_.FailAlways("SHGetKnownFolderPath", ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RunServiceMode(path), 0);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(received_path, path);

  // One missing there is never taken from a folder on PATH.
  const std::wstring planted = L"C:\\Tools\\optional.dll";
  sim_.AddLibrary(planted, {});
  sim_.search_path = {L"C:\\Tools"};
  sim_.SetImports(kLibrary, {L"wintun.dll", L"optional.dll"});
  EXPECT_EQ(RunServiceMode(path), 2);
  EXPECT_FALSE(sim_.WasLoaded(planted));
}

TEST_F(ServiceHostTest, MissingArgumentUsesTheDefaultConfigFile) {
  AddTunnelLibrary(kLibrary);
  sim_.AddDirectory(L"C:\\ProgramData\\VarnVPN");
  sim_.AddFile(L"C:\\ProgramData\\VarnVPN\\VarnVPN.conf", "x");
  EXPECT_EQ(RunServiceMode(L""), 0);
  EXPECT_EQ(received_path, L"C:\\ProgramData\\VarnVPN\\VarnVPN.conf");
}

TEST_F(ServiceHostTest, LibraryIsLoadedFromTheExecutablesFolder) {
  sim_.SetModulePath(L"E:\\Portable\\Varn\\varn_vpn.exe");
  AddTunnelLibrary(L"E:\\Portable\\Varn\\tunnel.dll");
  EXPECT_EQ(RunServiceMode(kConfig), 0);
  EXPECT_EQ(calls, 1);
}

TEST_F(ServiceHostTest, ZeroFromTheLibraryIsExitCode4) {
  AddTunnelLibrary(kLibrary);
  answer = FALSE;
  EXPECT_EQ(RunServiceMode(kConfig), 4);
  EXPECT_EQ(calls, 1);
}

TEST_F(ServiceHostTest, MissingLibraryOrExportIsExitCode2Or3) {
  EXPECT_EQ(RunServiceMode(kConfig), 2);
  sim_.AddLibrary(kLibrary, SimulatedPlatform::Library{});
  EXPECT_EQ(RunServiceMode(kConfig), 3);
  EXPECT_EQ(calls, 0);
}

// SYSTEM reads the configuration: before anything is loaded, its folder must
// be a real directory at its path and the file a plain file with one name. A
// missing file is refused too: anyone who may add files there could put a
// link at that name after the check.
TEST(ServiceHostConfigTest, ConfigurationThatIsNotPlainIsRefusedBeforeAnyLoad) {
  struct Case {
    const char* name;
    std::function<void(SimulatedPlatform&)> arrange;
    int expected;
  };
  const Case cases[] = {
      {"plain file", [](auto& sim) { sim.AddFile(kConfig, "x"); }, 0},
      {"missing file", [](auto&) {}, 5},
      {"hard-linked file",
       [](auto& sim) {
         sim.AddFile(L"C:\\Windows\\win.ini", "x");
         sim.AddHardLink(kConfig, L"C:\\Windows\\win.ini");
       },
       5},
      {"a directory", [](auto& sim) { sim.AddDirectory(kConfig); }, 5},
      {"a junction",
       [](auto& sim) {
         sim.AddDirectory(L"C:\\Windows");
         sim.AddJunction(kConfig, L"C:\\Windows");
       },
       5},
      {"folder is a junction",
       [](auto& sim) {
         sim.RemoveNode(L"C:\\Tunnel");
         sim.AddDirectory(L"C:\\Windows").owner = L"SY";
         sim.AddJunction(L"C:\\Tunnel", L"C:\\Windows");
       },
       5},
      {"folder missing", [](auto& sim) { sim.RemoveNode(L"C:\\Tunnel"); }, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedPlatform sim;
    sim.AddDirectory(L"C:\\Tunnel");
    SimulatedPlatform::Library library;
    library.exports["WireGuardTunnelService"] =
        reinterpret_cast<FARPROC>(&FakeTunnelService);
    sim.AddLibrary(kLibrary, library);
    c.arrange(sim);
    EXPECT_EQ(RunServiceMode(kConfig), c.expected);
    EXPECT_EQ(sim.loaded_libraries(), c.expected == 0 ? 1 : 0);
    EXPECT_EQ(RunServiceMode(L"c.conf"), 5) << "a relative path";
    EXPECT_TRUE(sim.AllReleased()) << sim.LeakReport();
  }
}

// The library writes log.bin as SYSTEM: before it is loaded, anything at
// that name but a plain, single-named file of SYSTEM or the Administrators
// is replaced in one step by a fresh one of SYSTEM's; what cannot be
// replaced stops the start.
TEST_F(ServiceHostTest, LogIsMadeSystemsBeforeAnyLoad) {
  struct Case {
    const char* name;
    std::function<void(SimulatedPlatform&)> arrange;
    int expected;
    std::optional<std::string> log_after;  // nullopt: no file
  };
  const Case cases[] = {
      {"missing", [](auto&) {}, 0, ""},
      {"SYSTEM's, kept as it is",
       [](auto& sim) { sim.AddFile(kLog, "old lines").owner = L"SY"; }, 0,
       "old lines"},
      {"the Administrators', kept",
       [](auto& sim) { sim.AddFile(kLog, "old").owner = L"BA"; }, 0, "old"},
      {"the user's, replaced",
       [](auto& sim) { sim.AddFile(kLog, "mine").owner = kUser; }, 0, ""},
      {"a second name of a system file, replaced",
       [](auto& sim) {
         sim.AddFile(L"C:\\Windows\\win.ini", "system").owner = L"SY";
         sim.AddHardLink(kLog, L"C:\\Windows\\win.ini");
       },
       0, ""},
      {"a junction: cannot be replaced",
       [](auto& sim) {
         sim.AddDirectory(L"C:\\Windows");
         sim.AddJunction(kLog, L"C:\\Windows");
       },
       6, std::nullopt},
      {"the user's, kept open by the user",
       [](auto& sim) {
         sim.AddFile(kLog, "mine").owner = kUser;
         sim.RunAs({kUser, false, false}, [&] {
           sim.OpenForeign(kLog, GENERIC_READ, FILE_SHARE_READ);
         });
       },
       6, "mine"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedPlatform sim;
    sim.AddDirectory(L"C:\\Tunnel");
    sim.AddFile(kConfig, "x");
    SimulatedPlatform::Library library;
    library.exports["WireGuardTunnelService"] =
        reinterpret_cast<FARPROC>(&FakeTunnelService);
    sim.AddLibrary(kLibrary, library);
    c.arrange(sim);
    int code = -1;
    sim.RunAs(kSystem, [&] { code = RunServiceMode(kConfig); });
    EXPECT_EQ(code, c.expected);
    EXPECT_EQ(sim.loaded_libraries(), c.expected == 0 ? 1 : 0);
    if (c.log_after) {
      EXPECT_EQ(sim.FileContents(kLog), *c.log_after);
    }
    if (c.expected == 0) {
      EXPECT_EQ(sim.LinkCount(kLog), 1);
      const std::wstring owner = sim.FindNode(kLog)->owner;
      EXPECT_TRUE(owner == L"SY" || owner == L"BA" || owner == L"S-1-5-18")
          << testing::Narrow(owner);
    }
    EXPECT_EQ(sim.FileContents(L"C:\\Windows\\win.ini").value_or("system"),
              "system");
    // No fresh file is left under another name.
    EXPECT_EQ(sim.Children(L"C:\\Tunnel").size(), 2u);
  }
}

// While the library runs, its configuration and log keep their names and
// the configuration its bytes, for everybody, SYSTEM included: the host's
// handles share neither deletion nor, for the configuration, writing. The
// library itself reads the one and writes the other.
TEST_F(ServiceHostTest, FilesStayHeldWhileTheLibraryRuns) {
  AddTunnelLibrary(kLibrary);
  struct Attempt {
    const char* what;
    std::function<DWORD()> act;
    DWORD expected;
  };
  auto open = [](const wchar_t* path, DWORD access, DWORD share) -> DWORD {
    HANDLE file = Os().CreateFileW(path, access, share, nullptr, OPEN_EXISTING,
                                   0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
    Os().CloseHandle(file);
    return 0;
  };
  auto remove = [](const wchar_t* path) -> DWORD {
    return Os().DeleteFileW(path) ? 0 : ::GetLastError();
  };
  const Attempt attempts[] = {
      {"library reads the configuration",
       [&] { return open(kConfig, GENERIC_READ, FILE_SHARE_READ); }, 0},
      {"library writes the log",
       [&] {
         return open(kLog, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE);
       },
       0},
      {"configuration opened for writing",
       [&] {
         return open(kConfig, GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
       },
       ERROR_SHARING_VIOLATION},
      {"configuration deleted", [&] { return remove(kConfig); },
       ERROR_SHARING_VIOLATION},
      {"log deleted", [&] { return remove(kLog); }, ERROR_SHARING_VIOLATION},
      {"configuration renamed",
       [&] { return sim_.Rename(kConfig, L"C:\\Tunnel\\other"); },
       ERROR_SHARING_VIOLATION},
      {"log renamed", [&] { return sim_.Rename(kLog, L"C:\\Tunnel\\other"); },
       ERROR_SHARING_VIOLATION},
  };
  std::vector<DWORD> seen;
  while_running = [&] {
    for (const Attempt& attempt : attempts) seen.push_back(attempt.act());
  };
  sim_.RunAs(kSystem, [&] { EXPECT_EQ(RunServiceMode(kConfig), 0); });
  ASSERT_EQ(seen.size(), std::size(attempts));
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i], attempts[i].expected) << attempts[i].what;
  }
  // Released when the library returns.
  EXPECT_EQ(sim_.Rename(kConfig, L"C:\\Tunnel\\other"), 0u);
}

TEST_F(ServiceHostTest, NoPathIsExitCode1BeforeAnyLoad) {
  AddTunnelLibrary(kLibrary);
  sim_.FailAlways("SHGetKnownFolderPath", ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RunServiceMode(L""), 1);  // no default configuration path

  sim_.ClearFailures();
  sim_.SetModulePath(L"C:\\" + std::wstring(256, L'a') + L".exe");
  EXPECT_EQ(RunServiceMode(kConfig), 1);  // 260 characters

  sim_.SetModulePath(L"varn_vpn.exe");
  EXPECT_EQ(RunServiceMode(kConfig), 1);  // no backslash

  EXPECT_EQ(sim_.loaded_libraries(), 0);
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace tunnel_control::testing
