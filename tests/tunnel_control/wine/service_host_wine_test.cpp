// The /service mode under Wine's real service manager, with the stand-in
// tunnel library: the life cycle of a service whose binary path is ours, and
// the exit codes of the host when the library is missing or broken.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/tunnel_control/common/tunnel_facts.h"
#include "tests/tunnel_control/wine/wine_test_support.h"

namespace tunnel_control::testing {
namespace {

// The host's arguments for `config`, as the service's command line has them.
std::wstring HostArguments(const std::wstring& config) {
  return std::wstring(kServiceSwitch) + L" " + Quoted(config);
}

constexpr wchar_t kUserSid[] = L"S-1-5-21-1-2-3-1001";

// A folder laid out like an installation: varn_vpn.exe, the tunnel library
// chosen by the test, and the configuration file.
class ServiceHostWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PlaceApp(folder_.path()), Exe()) << "varn_vpn.exe must be built";
  }

  // Copies the stand-in tunnel library from `variant` ("" for the working
  // one) beside the executable.
  void AddTunnelLibrary(const std::wstring& variant = L"") {
    const std::wstring from =
        variant.empty() ? BinFolder() + L"\\tunnel.dll"
                        : BinFolder() + L"\\" + variant + L"\\tunnel.dll";
    ASSERT_EQ(CopyOver(from, folder_.File(L"tunnel.dll")), 0u);
  }

  std::wstring Exe() const { return folder_.File(L"varn_vpn.exe"); }
  std::wstring Config() const { return folder_.File(L"VarnVPN.conf"); }
  // The installer's service, running this folder's executable on its
  // configuration file.
  ServiceDefinition Definition() const {
    return TunnelServiceDefinition(Exe(), Config(), kUserSid);
  }
  std::string Log() const {
    return ReadTextFile(folder_.File(L"log.bin")).value_or("");
  }

  // Runs the host directly, not as a service.
  std::optional<DWORD> RunHost() const {
    return RunProgram(Exe(), HostArguments(Config()));
  }

  TempFolder folder_;
};

// Opens the service's process so its exit code can be read after it ends.
ScopedProcess OpenServiceProcess(const SERVICE_STATUS_PROCESS& status) {
  return ScopedProcess(
      ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                    status.dwProcessId));
}

std::optional<DWORD> ExitCodeAfterEnd(const ScopedProcess& process) {
  if (!process ||
      ::WaitForSingleObject(process.Get(), 10000) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.Get(), &code)) return std::nullopt;
  return code;
}

TEST_F(ServiceHostWineTest, RunsUntilTheStopControlAndLogsItsLife) {
  AddTunnelLibrary();
  ASSERT_TRUE(WriteTextFile(Config(), ValidConfig()));
  TestService service(Definition());
  ASSERT_TRUE(service) << service.failure();

  ASSERT_EQ(StartWarm(service.Get()), 0u);
  const StateTrace started =
      WaitForState(service.Get(), SERVICE_RUNNING, 15000);
  ASSERT_TRUE(started.reached) << "last state " << started.last.dwCurrentState;
  EXPECT_EQ(started.last.dwControlsAccepted & SERVICE_ACCEPT_STOP,
            static_cast<DWORD>(SERVICE_ACCEPT_STOP));
  ScopedProcess process = OpenServiceProcess(started.last);
  ASSERT_TRUE(process) << "OpenProcess error " << ::GetLastError();

  SERVICE_STATUS status{};
  ASSERT_TRUE(::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status))
      << ::GetLastError();
  const StateTrace stopped =
      WaitForState(service.Get(), SERVICE_STOPPED, 10000);
  ASSERT_TRUE(stopped.reached);
  EXPECT_EQ(stopped.last.dwWin32ExitCode, 0u);
  EXPECT_EQ(ExitCodeAfterEnd(process), 0u);

  const std::string log = Log();
  EXPECT_NE(log.find("starting service WireGuardTunnel$VarnVPN with "
                     "configuration " +
                     Utf8(Config())),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("tunnel running"), std::string::npos) << log;
  EXPECT_NE(log.find("stop requested"), std::string::npos) << log;
  EXPECT_NE(log.find("tunnel stopped"), std::string::npos) << log;
}

TEST_F(ServiceHostWineTest, InvalidConfigStopsTheServiceDuringStartUp) {
  AddTunnelLibrary();
  ASSERT_TRUE(
      WriteTextFile(Config(), ValidConfig("[Peer]\r\nColour = blue\r\n")));
  TestService service(Definition());
  ASSERT_TRUE(service) << service.failure();

  const DWORD start_error = StartWarm(service.Get());
  // Windows accepts the start before the library reads the file; a start
  // refused because the service already stopped is the same outcome.
  ASSERT_TRUE(start_error == 0 || start_error == ERROR_SERVICE_SPECIFIC_ERROR)
      << start_error;
  const StateTrace trace = WaitForState(service.Get(), SERVICE_STOPPED, 15000);
  ASSERT_TRUE(trace.reached);
  EXPECT_FALSE(trace.Saw(SERVICE_RUNNING));
  EXPECT_EQ(trace.last.dwWin32ExitCode,
            static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
  EXPECT_EQ(trace.last.dwServiceSpecificExitCode, 1u);
  EXPECT_NE(Log().find("invalid configuration: line 12: unknown key "
                       "\"Colour\" in [Peer]"),
            std::string::npos)
      << Log();
}

// Anyone who may add files beside a missing configuration could put a link
// there after a check: the host refuses before the library is loaded.
TEST_F(ServiceHostWineTest, MissingConfigIsRefusedBeforeTheLibraryLoads) {
  AddTunnelLibrary();
  EXPECT_EQ(RunHost(), 5u);
  EXPECT_EQ(Log(), "") << "the library never ran";
}

// While the library runs, the host holds the configuration and log.bin: no
// other process may rename, delete or replace either, nor write the
// configuration; the library reads the one and writes the other.
TEST_F(ServiceHostWineTest, RunningTunnelsFilesCanBeNeitherMovedNorRewritten) {
  AddTunnelLibrary();
  ASSERT_TRUE(WriteTextFile(Config(), ValidConfig()));
  TestService service(Definition());
  ASSERT_TRUE(service) << service.failure();
  ASSERT_EQ(StartWarm(service.Get()), 0u);
  ASSERT_TRUE(WaitForState(service.Get(), SERVICE_RUNNING, 15000).reached);

  const std::wstring log = folder_.File(L"log.bin");
  const std::wstring moved = folder_.File(L"moved");
  const std::wstring other = folder_.File(L"other");
  ASSERT_TRUE(WriteTextFile(other, "other"));
  const auto refused = [](BOOL done) {
    return done ? DWORD{0} : ::GetLastError();
  };
  const auto open_for_writing = [](const std::wstring& path) -> DWORD {
    HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
    ::CloseHandle(file);
    return 0;
  };
  for (const std::wstring& path : {Config(), log}) {
    SCOPED_TRACE(Utf8(path));
    EXPECT_NE(refused(::MoveFileW(path.c_str(), moved.c_str())), 0u);
    EXPECT_NE(refused(::DeleteFileW(path.c_str())), 0u);
    EXPECT_NE(refused(::MoveFileExW(other.c_str(), path.c_str(),
                                    MOVEFILE_REPLACE_EXISTING)),
              0u);
  }
  EXPECT_EQ(open_for_writing(Config()),
            static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(ReadTextFile(Config()), ValidConfig());
  EXPECT_NE(Log().find("tunnel running"), std::string::npos) << Log();

  SERVICE_STATUS status{};
  ASSERT_TRUE(::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
  ASSERT_TRUE(WaitForState(service.Get(), SERVICE_STOPPED, 10000).reached);
  EXPECT_NE(Log().find("tunnel stopped"), std::string::npos) << Log();
  // Let go once the library has returned.
  const ULONGLONG deadline = ::GetTickCount64() + 10000;
  while (!::MoveFileW(Config().c_str(), moved.c_str()) &&
         ::GetTickCount64() < deadline) {
    ::Sleep(50);
  }
  EXPECT_TRUE(FileExists(moved));
}

TEST_F(ServiceHostWineTest, StandInSectionHoldsStartAndStopPending) {
  AddTunnelLibrary();
  ASSERT_TRUE(
      WriteTextFile(Config(), ValidConfig("[StandIn]\r\nStartDelayMs = 1500\r\n"
                                          "StopDelayMs = 1500\r\n")));
  TestService service(Definition());
  ASSERT_TRUE(service) << service.failure();

  ASSERT_EQ(StartWarm(service.Get()), 0u);
  const ULONGLONG started_at = ::GetTickCount64();
  const StateTrace started =
      WaitForState(service.Get(), SERVICE_RUNNING, 15000);
  ASSERT_TRUE(started.reached);
  EXPECT_TRUE(started.Saw(SERVICE_START_PENDING));
  EXPECT_GE(::GetTickCount64() - started_at, 1000u);

  SERVICE_STATUS status{};
  ASSERT_TRUE(::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
  const ULONGLONG stop_at = ::GetTickCount64();
  const StateTrace stopped =
      WaitForState(service.Get(), SERVICE_STOPPED, 15000);
  ASSERT_TRUE(stopped.reached);
  EXPECT_TRUE(stopped.Saw(SERVICE_STOP_PENDING));
  EXPECT_GE(::GetTickCount64() - stop_at, 1000u);
  EXPECT_EQ(stopped.last.dwWin32ExitCode, 0u);
}

TEST_F(ServiceHostWineTest, StandInSectionStopsTheTunnelUnasked) {
  AddTunnelLibrary();
  ASSERT_TRUE(WriteTextFile(Config(),
                            ValidConfig("[StandIn]\r\nStopAfterMs = 800\r\n")));
  TestService service(Definition());
  ASSERT_TRUE(service) << service.failure();

  ASSERT_EQ(StartWarm(service.Get()), 0u);
  const StateTrace started =
      WaitForState(service.Get(), SERVICE_RUNNING, 15000);
  ASSERT_TRUE(started.reached);
  ScopedProcess process = OpenServiceProcess(started.last);

  const StateTrace stopped =
      WaitForState(service.Get(), SERVICE_STOPPED, 15000);
  ASSERT_TRUE(stopped.reached);
  EXPECT_EQ(stopped.last.dwWin32ExitCode,
            static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
  EXPECT_EQ(stopped.last.dwServiceSpecificExitCode, 2u);
  // The library reports failure, which the host maps to exit code 4.
  EXPECT_EQ(ExitCodeAfterEnd(process), 4u);
}

// The host runs as SYSTEM: of its folder it may load the tunnel library only,
// and a missing engine library must not keep it from its own exit codes.
TEST_F(ServiceHostWineTest, LoadsNothingFromItsFolderButTheTunnelLibrary) {
  struct Row {
    const char* engine;     // "planted" or "missing"
    const wchar_t* tunnel;  // variant folder, "" for the working one, or null
    DWORD exit_code;
  };
  for (const Row& row :
       {Row{"planted", nullptr, 2}, Row{"planted", L"", 4},
        Row{"missing", L"tunnel_no_export", 3}, Row{"missing", L"", 4}}) {
    SCOPED_TRACE(std::string("engine ") + row.engine);
    TempFolder folder;
    const std::wstring exe = PlaceApp(folder.path());
    ASSERT_FALSE(exe.empty());
    ASSERT_TRUE(PlantLibraries(folder.path()));
    if (std::string(row.engine) == "missing") {
      ASSERT_TRUE(::DeleteFileW(folder.File(L"flutter_windows.dll").c_str()));
    }
    if (row.tunnel != nullptr) {
      const std::wstring variant(row.tunnel);
      const std::wstring from = BinFolder() +
                                (variant.empty() ? L"" : L"\\" + variant) +
                                L"\\tunnel.dll";
      ASSERT_EQ(CopyOver(from, folder.File(L"tunnel.dll")), 0u);
    }
    ASSERT_TRUE(WriteTextFile(folder.File(L"VarnVPN.conf"), ValidConfig()));

    EXPECT_EQ(RunProgram(exe, HostArguments(folder.File(L"VarnVPN.conf"))),
              row.exit_code);
    EXPECT_EQ(LoadedPlantedLibraries(folder.path()),
              std::vector<std::wstring>{});
  }
}

// A library the tunnel library needs but does not ship is looked for beside
// it and in System32 only, never in the current folder or on PATH, where
// anyone may have put one.
TEST_F(ServiceHostWineTest, TunnelLibraryDependenciesAreNotSearchedElsewhere) {
  AddTunnelLibrary(L"tunnel_with_dependency");
  ASSERT_TRUE(WriteTextFile(Config(), ValidConfig()));
  TempFolder current;
  TempFolder on_path;
  for (const TempFolder* folder : {&current, &on_path}) {
    ASSERT_EQ(CopyOver(BinFolder() + L"\\planted\\planted.dll",
                       folder->File(L"tunnel_helper.dll")),
              0u);
  }
  wchar_t saved_folder[MAX_PATH] = {};
  ASSERT_NE(::GetCurrentDirectoryW(MAX_PATH, saved_folder), 0u);
  std::wstring saved_path(32767, L'\0');
  saved_path.resize(
      ::GetEnvironmentVariableW(L"PATH", saved_path.data(), 32767));
  ASSERT_TRUE(::SetCurrentDirectoryW(current.path().c_str()));
  ASSERT_TRUE(::SetEnvironmentVariableW(
      L"PATH", (on_path.path() + L";" + saved_path).c_str()));
  const std::optional<DWORD> exit_code = RunHost();
  ::SetEnvironmentVariableW(L"PATH", saved_path.c_str());
  ::SetCurrentDirectoryW(saved_folder);

  EXPECT_EQ(exit_code, 2u);
  EXPECT_FALSE(FileExists(current.File(L"tunnel_helper.dll.loaded")));
  EXPECT_FALSE(FileExists(on_path.File(L"tunnel_helper.dll.loaded")));
}

// SYSTEM reads the configuration: a file with a second name elsewhere is
// refused before the tunnel library is loaded.
TEST_F(ServiceHostWineTest, HardLinkedConfigIsRefusedBeforeTheLibraryLoads) {
  AddTunnelLibrary();
  const std::wstring other = folder_.File(L"other.conf");
  ASSERT_TRUE(WriteTextFile(other, ValidConfig()));
  ASSERT_TRUE(::CreateHardLinkW(Config().c_str(), other.c_str(), nullptr))
      << ::GetLastError();
  EXPECT_EQ(RunHost(), 5u);
  EXPECT_EQ(Log(), "") << "the library never ran";
}

TEST_F(ServiceHostWineTest, ExitsTwoWithoutTunnelLibrary) {
  ASSERT_TRUE(WriteTextFile(Config(), ValidConfig()));
  EXPECT_EQ(RunHost(), 2u);
}

TEST_F(ServiceHostWineTest, ExitsThreeWhenTheLibraryLacksTheExport) {
  AddTunnelLibrary(L"tunnel_no_export");
  ASSERT_TRUE(WriteTextFile(Config(), ValidConfig()));
  EXPECT_EQ(RunHost(), 3u);
}

TEST_F(ServiceHostWineTest, ExitsFourWhenTheExportFails) {
  AddTunnelLibrary(L"tunnel_returns_zero");
  ASSERT_TRUE(WriteTextFile(Config(), ValidConfig()));
  EXPECT_EQ(RunHost(), 4u);
}

TEST_F(ServiceHostWineTest, ExitsFourWhenNotStartedAsAService) {
  AddTunnelLibrary();
  ASSERT_TRUE(WriteTextFile(Config(), ValidConfig()));
  EXPECT_EQ(RunHost(), 4u);
  EXPECT_NE(Log().find("cannot connect to the service manager (error 1063)"),
            std::string::npos)
      << Log();
}

}  // namespace
}  // namespace tunnel_control::testing
