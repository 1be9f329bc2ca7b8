// The /tunnel-install and /tunnel-uninstall modes under Wine's real service
// manager and file system, run as child processes of copies of varn_vpn.exe.
// Owner and DACL of the directory are left to the simulated tests: Wine
// accepts them but keeps no file DACLs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/service_wine/wine_test_support.h"

namespace service_wine {
namespace {

constexpr wchar_t kServiceName[] = L"WireGuardTunnel$VarnVPN";
constexpr wchar_t kUserSid[] = L"S-1-5-21-1-2-3-1001";

// Wine has no service SID type, so a good install ends at that step with
// the service already created and configured; Windows would exit 0.
constexpr DWORD kInstallExitUnderWine = 18;

// What QueryServiceConfigW and QueryServiceConfig2W report.
struct ServiceDefinition {
  DWORD type = 0;
  DWORD start_type = 0;
  DWORD error_control = 0;
  DWORD tag = 0;
  std::wstring binary_path;
  std::wstring group;
  std::wstring dependencies;  // with its NULs, up to the closing double NUL
  std::wstring account;
  std::wstring display_name;
  std::wstring description;
};

std::wstring DoubleNulList(const wchar_t* list) {
  std::wstring result;
  for (const wchar_t* item = list; item != nullptr && *item != L'\0';
       item += wcslen(item) + 1) {
    result += item;
    result += L'\0';
  }
  result += L'\0';
  return result;
}

// Reads the dependency list the service manager keeps in the registry.
std::wstring RegistryDependencies() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      L"SYSTEM\\CurrentControlSet\\Services\\"
                      L"WireGuardTunnel$VarnVPN",
                      0, KEY_READ, &key) != ERROR_SUCCESS) {
    return L"(no key)";
  }
  std::vector<wchar_t> data(256, L'\0');
  DWORD size = static_cast<DWORD>((data.size() - 2) * sizeof(wchar_t));
  DWORD type = 0;
  const LONG result =
      ::RegQueryValueExW(key, L"DependOnService", nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size);
  ::RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_MULTI_SZ) return L"(no value)";
  return DoubleNulList(data.data());
}

std::optional<ServiceDefinition> ReadDefinition(SC_HANDLE service) {
  DWORD needed = 0;
  ::QueryServiceConfigW(service, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (needed == 0 || !::QueryServiceConfigW(service, config, needed, &needed)) {
    return std::nullopt;
  }
  ServiceDefinition definition;
  definition.type = config->dwServiceType;
  definition.start_type = config->dwStartType;
  definition.error_control = config->dwErrorControl;
  definition.tag = config->dwTagId;
  const auto text = [](const wchar_t* value) {
    return std::wstring(value != nullptr ? value : L"");
  };
  definition.binary_path = text(config->lpBinaryPathName);
  definition.group = text(config->lpLoadOrderGroup);
  definition.dependencies = DoubleNulList(config->lpDependencies);
  // Wine stores the dependencies but reports none through
  // QueryServiceConfigW; Windows reports what the registry holds.
  if (definition.dependencies.size() == 1) {
    definition.dependencies = RegistryDependencies();
  }
  definition.account = text(config->lpServiceStartName);
  definition.display_name = text(config->lpDisplayName);

  needed = 0;
  ::QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, nullptr, 0,
                         &needed);
  std::vector<BYTE> description_buffer(
      std::max<DWORD>(needed, sizeof(SERVICE_DESCRIPTIONW)));
  auto* description =
      reinterpret_cast<SERVICE_DESCRIPTIONW*>(description_buffer.data());
  if (!::QueryServiceConfig2W(
          service, SERVICE_CONFIG_DESCRIPTION, description_buffer.data(),
          static_cast<DWORD>(description_buffer.size()), &needed)) {
    return std::nullopt;
  }
  definition.description = text(description->lpDescription);
  return definition;
}

void ExpectDefinitionFor(const ServiceDefinition& actual,
                         const std::wstring& exe) {
  EXPECT_EQ(actual.type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(actual.start_type, static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_EQ(actual.error_control, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(actual.tag, 0u);
  EXPECT_EQ(actual.binary_path, L"\"" + exe + L"\" /service \"" +
                                    ProgramDataFolder() +
                                    L"\\VarnVPN\\VarnVPN.conf\"");
  EXPECT_EQ(actual.group, L"");
  EXPECT_EQ(actual.dependencies, std::wstring(L"Nsi\0TcpIp\0\0", 11));
  EXPECT_EQ(actual.account, L"LocalSystem");
  EXPECT_EQ(actual.display_name, L"Varn VPN Tunnel");
  // The description is set after the SID type, where Wine's install ends.
  EXPECT_EQ(actual.description, L"");
}

class InstallModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ProgramDataFolder().empty());
    RemoveLeftovers();
  }
  void TearDown() override { RemoveLeftovers(); }

  void RemoveLeftovers() {
    RemoveService(kServiceName);
    RemoveFolder(DataDirectory());
  }

  static std::wstring DataDirectory() {
    return ProgramDataFolder() + L"\\VarnVPN";
  }
  static std::wstring ConfigFile() {
    return DataDirectory() + L"\\VarnVPN.conf";
  }

  // Places varn_vpn.exe, its libraries and the stand-in tunnel library in
  // `folder`.
  static std::wstring PlaceApp(const TempFolder& folder) {
    const std::wstring exe = service_wine::PlaceApp(folder.path());
    EXPECT_FALSE(exe.empty()) << "varn_vpn.exe must be built";
    EXPECT_EQ(
        CopyOver(BinFolder() + L"\\tunnel.dll", folder.File(L"tunnel.dll")),
        0u);
    return exe;
  }

  static std::optional<DWORD> Install(const std::wstring& exe,
                                      const std::wstring& sid_arguments) {
    return RunProgram(exe, L"/tunnel-install " + sid_arguments);
  }
  static std::optional<DWORD> Uninstall(const std::wstring& exe) {
    return RunProgram(exe, L"/tunnel-uninstall");
  }

  static ScopedServiceHandle OpenTunnelService() {
    ScopedServiceHandle manager = OpenManager();
    return ScopedServiceHandle(
        ::OpenServiceW(manager.Get(), kServiceName, SERVICE_ALL_ACCESS));
  }

  // Returns true once the service is gone; deletion can lag its request.
  static bool ServiceGone() {
    for (int i = 0; i < 100; ++i) {
      ScopedServiceHandle service = OpenTunnelService();
      if (!service && ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
        return true;
      }
      ::Sleep(50);
    }
    return false;
  }

  TempFolder folder_;
};

TEST_F(InstallModeTest, BadSidExitsTenAndCreatesNothing) {
  const std::wstring exe = PlaceApp(folder_);
  for (const std::wstring arguments :
       {L"", L"\"\"", L"not-a-sid", L"S-1-5-21-1-2-x", L"S-1"}) {
    SCOPED_TRACE(Utf8(L"arguments: " + arguments));
    EXPECT_EQ(Install(exe, arguments), 10u);
    EXPECT_FALSE(FileExists(DataDirectory()));
    EXPECT_TRUE(ServiceGone());
  }
}

// Wine's own SID parser takes aliases and loose forms; the installer takes
// one user's account in canonical form only.
TEST_F(InstallModeTest, SidOfNoSingleUserExitsTenAndCreatesNothing) {
  const std::wstring exe = PlaceApp(folder_);
  for (const std::wstring arguments :
       {L"WD", L"BU", L"AU", L"S-1-1-0", L"S-1-5-32-544", L"S-1-5-18",
        L"s-1-5-21-1-2-3-1001", L"\" S-1-5-21-1-2-3-1001\"",
        L"S-1-5-21-1-2-3-01001", L"S-1-5-21-1-2-3-513"}) {
    SCOPED_TRACE(Utf8(L"arguments: " + arguments));
    EXPECT_EQ(Install(exe, arguments), 10u);
    EXPECT_FALSE(FileExists(DataDirectory()));
    EXPECT_TRUE(ServiceGone());
  }
}

TEST_F(InstallModeTest, ValidSidCreatesTheDirectoryAndTheService) {
  const std::wstring exe = PlaceApp(folder_);
  EXPECT_EQ(Install(exe, kUserSid), kInstallExitUnderWine);

  const DWORD attributes = ::GetFileAttributesW(DataDirectory().c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(FileExists(ConfigFile())) << "install never writes the config";

  ScopedServiceHandle service = OpenTunnelService();
  ASSERT_TRUE(service) << ::GetLastError();
  const auto definition = ReadDefinition(service.Get());
  ASSERT_TRUE(definition.has_value()) << ::GetLastError();
  ExpectDefinitionFor(*definition, exe);
  const auto status = QueryStatus(service.Get());
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(status->dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED))
      << "install never starts the service";
}

TEST_F(InstallModeTest, RunFromAMovedExecutableRewritesTheDefinition) {
  const std::wstring first_exe = PlaceApp(folder_);
  ASSERT_EQ(Install(first_exe, kUserSid), kInstallExitUnderWine);
  {
    // Leave every rewritten field different from what install writes.
    ScopedServiceHandle service = OpenTunnelService();
    ASSERT_TRUE(service);
    ASSERT_TRUE(::ChangeServiceConfigW(
        service.Get(), SERVICE_NO_CHANGE, SERVICE_DISABLED,
        SERVICE_ERROR_IGNORE, L"C:\\old\\varn_vpn.exe /service", nullptr,
        nullptr, L"Nsi\0\0", nullptr, nullptr, L"Old name"))
        << ::GetLastError();
  }

  TempFolder moved;
  const std::wstring moved_exe = PlaceApp(moved);
  EXPECT_EQ(Install(moved_exe, L"S-1-5-21-7-8-9-1002"), kInstallExitUnderWine);

  ScopedServiceHandle service = OpenTunnelService();
  ASSERT_TRUE(service);
  const auto definition = ReadDefinition(service.Get());
  ASSERT_TRUE(definition.has_value());
  ExpectDefinitionFor(*definition, moved_exe);
}

// Both modes run elevated: libraries planted in the exe's folder under the
// names of ones the windowed application uses must stay unloaded.
TEST_F(InstallModeTest, PrivilegedModesLoadNoPlantedLibrary) {
  const std::wstring exe = PlaceApp(folder_);
  ASSERT_TRUE(PlantLibraries(folder_.path()));
  EXPECT_EQ(Install(exe, kUserSid), kInstallExitUnderWine);
  EXPECT_EQ(Uninstall(exe), 0u);
  EXPECT_EQ(LoadedPlantedLibraries(folder_.path()),
            std::vector<std::wstring>{});
}

TEST_F(InstallModeTest, UninstallRemovesTheServiceAndTheConfig) {
  const std::wstring exe = PlaceApp(folder_);
  ASSERT_EQ(Install(exe, kUserSid), kInstallExitUnderWine);
  ASSERT_TRUE(WriteTextFile(ConfigFile(), ValidConfig()));

  EXPECT_EQ(Uninstall(exe), 0u);
  EXPECT_TRUE(ServiceGone());
  EXPECT_FALSE(FileExists(ConfigFile()));
  EXPECT_TRUE(FileExists(DataDirectory())) << "the directory stays";
}

TEST_F(InstallModeTest, UninstallWithoutServiceExitsZeroAndDeletesConfig) {
  const std::wstring exe = PlaceApp(folder_);
  ASSERT_TRUE(::CreateDirectoryW(DataDirectory().c_str(), nullptr));
  ASSERT_TRUE(WriteTextFile(ConfigFile(), ValidConfig()));

  EXPECT_EQ(Uninstall(exe), 0u);
  EXPECT_FALSE(FileExists(ConfigFile()));
  EXPECT_EQ(Uninstall(exe), 0u) << "nothing left to remove is still success";
}

TEST_F(InstallModeTest, InstalledServiceRunsTheTunnelUntilUninstall) {
  const std::wstring exe = PlaceApp(folder_);
  ASSERT_EQ(Install(exe, kUserSid), kInstallExitUnderWine);
  // A slow stop: uninstall must wait for it and still delete the service.
  ASSERT_TRUE(WriteTextFile(
      ConfigFile(), ValidConfig("[StandIn]\r\nStopDelayMs = 1500\r\n")));

  ScopedProcess process;
  {
    ScopedServiceHandle service = OpenTunnelService();
    ASSERT_TRUE(service);
    ASSERT_EQ(StartWarm(service.Get()), 0u);
    const StateTrace started =
        WaitForState(service.Get(), SERVICE_RUNNING, 15000);
    ASSERT_TRUE(started.reached)
        << "last state " << started.last.dwCurrentState;
    process = ScopedProcess(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                      started.last.dwProcessId));
    ASSERT_TRUE(process);
  }

  EXPECT_EQ(Uninstall(exe), 0u);
  EXPECT_TRUE(ServiceGone());
  EXPECT_FALSE(FileExists(ConfigFile()));
  ASSERT_EQ(::WaitForSingleObject(process.Get(), 10000),
            static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD exit_code = 1;
  ASSERT_TRUE(::GetExitCodeProcess(process.Get(), &exit_code));
  EXPECT_EQ(exit_code, 0u) << "the tunnel stopped on request";
  const std::string log =
      ReadTextFile(DataDirectory() + L"\\log.bin").value_or("");
  EXPECT_NE(log.find("holding stop-pending for 1500 ms"), std::string::npos)
      << log;
  EXPECT_NE(log.find("tunnel stopped"), std::string::npos) << log;
}

}  // namespace
}  // namespace service_wine
