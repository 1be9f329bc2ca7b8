// Helpers for tests that drive the real service manager and file system
// under Wine: owners that clean up after each case, folders laid out like an
// installation, child processes and service state polling.
#ifndef TESTS_TUNNEL_CONTROL_WINE_WINE_TEST_SUPPORT_H_
#define TESTS_TUNNEL_CONTROL_WINE_WINE_TEST_SUPPORT_H_

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/tunnel_control/installer/service_definition.h"
#include "tests/tunnel_control/wine/service_provisioner.h"
#include "win/scoped_resource.h"

namespace tunnel_control::testing {

using win::ScopedScHandle;
// A process or thread handle.
using ScopedProcess = win::ScopedHandle;

// A fresh folder under the temporary folder, removed with its files (one
// level of subfolders) on destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::wstring& path() const { return path_; }
  // Returns path() + "\" + name.
  std::wstring File(std::wstring_view name) const;

 private:
  std::wstring path_;
};

// Returns the folder of this test program, where the build puts
// varn_vpn.exe and the stand-in DLLs too.
std::wstring BinFolder();

// Copies varn_vpn.exe and the libraries a bundle holds beside it (all DLLs
// of the bin folder but tunnel.dll, which each test chooses) into `folder`;
// returns the executable's new path, or an empty string on failure.
std::wstring PlaceApp(const std::wstring& folder);

// The libraries a privileged mode must not load from the exe's folder: one
// the exe uses that is no KnownDLL, and the UI engine.
inline constexpr const wchar_t* kPlantedLibraries[] = {L"dwmapi.dll",
                                                       L"flutter_windows.dll"};

// Replaces each of kPlantedLibraries in `folder` with a library that marks
// its own load; returns false when one cannot be placed.
bool PlantLibraries(const std::wstring& folder);

// The planted libraries of `folder` that some process has loaded.
std::vector<std::wstring> LoadedPlantedLibraries(const std::wstring& folder);

// Copies `from` to `to`, overwriting; returns the Win32 error or 0.
DWORD CopyOver(const std::wstring& from, const std::wstring& to);

bool FileExists(const std::wstring& path);
bool WriteTextFile(const std::wstring& path, std::string_view text);
// Returns the file's bytes, or nullopt when it cannot be read.
std::optional<std::string> ReadTextFile(const std::wstring& path);
// Removes a folder with its files (one level of subfolders).
void RemoveFolder(const std::wstring& path);

// Runs `exe` with `arguments` (already quoted as needed) and returns its
// exit code, or nullopt when it cannot be started or runs over 60 s.
std::optional<DWORD> RunProgram(const std::wstring& exe,
                                const std::wstring& arguments);

// Converts to UTF-8, as the stand-in writes paths into its log.
std::string Utf8(const std::wstring& text);

// Wraps `text` in double quotes.
std::wstring Quoted(const std::wstring& text);

// The path of %ProgramData%.
std::wstring ProgramDataFolder();

// Opens the local service manager with full access.
ScopedScHandle OpenManager();

// Returns the service's status, or nullopt when it cannot be queried.
std::optional<SERVICE_STATUS_PROCESS> QueryStatus(SC_HANDLE service);

// The states a service went through while it was watched.
struct StateTrace {
  std::vector<DWORD> states;  // each change once, in order
  SERVICE_STATUS_PROCESS last{};
  bool reached = false;  // the wanted state was seen before the deadline
  bool Saw(DWORD state) const;
};

// Polls every 20 ms until the service is in `wanted` or `timeout_ms` pass.
StateTrace WaitForState(SC_HANDLE service, DWORD wanted, DWORD timeout_ms);

// Starts the service. A fresh prefix's first start can time out (1053)
// while Wine's service manager warms up, so that one error gets one retry.
// Returns the error of the last attempt, or 0.
DWORD StartWarm(SC_HANDLE service);

// Stops (if running) and deletes the named service if it exists, waiting
// up to 10 s for the stop.
void RemoveService(const std::wstring& name);

// The service `definition` describes, provisioned for one test and removed
// again afterwards.
class TestService {
 public:
  explicit TestService(const ServiceDefinition& definition);
  ~TestService();
  TestService(const TestService&) = delete;
  TestService& operator=(const TestService&) = delete;

  SC_HANDLE Get() const { return provisioned_.service.Get(); }
  explicit operator bool() const { return static_cast<bool>(provisioned_); }
  // What failed while provisioning, or an empty string.
  const std::string& failure() const { return provisioned_.failure; }

 private:
  Provisioned provisioned_;
};

// A valid tunnel configuration, followed by `extra` (e.g. a [StandIn]
// section).
std::string ValidConfig(std::string_view extra = {});

}  // namespace tunnel_control::testing

#endif  // TESTS_TUNNEL_CONTROL_WINE_WINE_TEST_SUPPORT_H_
