// The simulation itself behaves like the Windows calls the tunnel tests rely
// on; a wrong double would let real faults through.
#include "tests/tunnel_control/support/simulated_platform.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/tunnel_control/os/scoped_handles.h"

namespace tunnel_control::testing {
namespace {

constexpr wchar_t kName[] = L"WireGuardTunnel$VarnVPN";

TEST(SimulatedPlatformTest, ServiceStatesFollowTheScriptOverVirtualTime) {
  SimulatedPlatform sim;
  SimulatedPlatform::Service& script = sim.AddService(kName);
  script.start_pending_ms = 500;
  script.run_ms = 1'000;
  ScopedServiceHandle manager(
      Os().OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  ScopedServiceHandle service(
      Os().OpenServiceW(manager.Get(), kName,
                        SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS));
  ASSERT_TRUE(service);
  EXPECT_NE(manager.Get(), service.Get());
  const auto state = [&] {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    EXPECT_TRUE(Os().QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                                          reinterpret_cast<LPBYTE>(&status),
                                          sizeof(status), &needed));
    return status.dwCurrentState;
  };
  ASSERT_TRUE(Os().StartServiceW(service.Get(), 0, nullptr));
  EXPECT_EQ(state(), static_cast<DWORD>(SERVICE_START_PENDING));
  Os().Sleep(499);
  EXPECT_EQ(state(), static_cast<DWORD>(SERVICE_START_PENDING));
  Os().Sleep(1);
  EXPECT_EQ(state(), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(Os().GetTickCount64() - 5'000'000, 500u);
  Os().Sleep(1'000);
  EXPECT_EQ(state(), static_cast<DWORD>(SERVICE_STOPPED));  // stopped itself
  SERVICE_STATUS status{};
  EXPECT_FALSE(
      Os().ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
}

TEST(SimulatedPlatformTest, AccessFollowsTheServiceDaclAndTheUser) {
  SimulatedPlatform sim;
  sim.AddService(kName).sddl =
      L"D:(A;;CCLCSWLOCRRC;;;IU)(A;;RPWPCCLCSWLOCRRC;;;" + sim.user().sid +
      L")(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)";
  ScopedServiceHandle manager(
      Os().OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  EXPECT_TRUE(
      ScopedServiceHandle(Os().OpenServiceW(manager.Get(), kName, 0x34)));
  EXPECT_FALSE(
      ScopedServiceHandle(Os().OpenServiceW(manager.Get(), kName, DELETE)));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  sim.user().sid = L"S-1-5-21-9-9-9-2000";
  EXPECT_FALSE(
      ScopedServiceHandle(Os().OpenServiceW(manager.Get(), kName, 0x34)));
  EXPECT_TRUE(
      ScopedServiceHandle(Os().OpenServiceW(manager.Get(), kName, 0x4)));
  EXPECT_FALSE(ScopedServiceHandle(
      Os().OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)));
  sim.user().elevated = true;
  EXPECT_TRUE(
      ScopedServiceHandle(Os().OpenServiceW(manager.Get(), kName, DELETE)));
  // SYSTEM holds the Administrators; a filtered administrator holds them for
  // deny entries only.
  sim.user() = {L"S-1-5-18", false, true};
  EXPECT_TRUE(
      ScopedServiceHandle(Os().OpenServiceW(manager.Get(), kName, DELETE)));
  sim.user() = {kUserB, false, false, true};
  EXPECT_FALSE(
      ScopedServiceHandle(Os().OpenServiceW(manager.Get(), kName, DELETE)));
}

TEST(SimulatedPlatformTest, FailuresHitExactlyTheChosenUses) {
  SimulatedPlatform sim;
  sim.FailOnUse("CreateDirectoryW", ERROR_DISK_FULL, 2, 2);
  const auto create = [](const wchar_t* path) {
    return Os().CreateDirectoryW(path, nullptr) ? DWORD{0} : ::GetLastError();
  };
  EXPECT_EQ(create(L"C:\\ProgramData\\a"), 0u);
  EXPECT_EQ(create(L"C:\\ProgramData\\b"), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(create(L"C:\\ProgramData\\c"), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(create(L"C:\\ProgramData\\d"), 0u);
  EXPECT_EQ(create(L"C:\\ProgramData\\a"),
            static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(create(L"C:\\Missing\\x"),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(sim.FindNode(L"C:\\ProgramData\\b"), nullptr);
}

TEST(SimulatedPlatformTest, CountsWhatIsOpenAndWhatIsReleasedTwice) {
  SimulatedPlatform sim;
  std::set<void*> handles;
  HANDLE token = nullptr;
  ASSERT_TRUE(
      Os().OpenProcessToken(Os().GetCurrentProcess(), TOKEN_QUERY, &token));
  handles.insert(token);
  SC_HANDLE manager = Os().OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  handles.insert(manager);
  PSID sid = nullptr;
  ASSERT_TRUE(Os().ConvertStringSidToSidW(L"S-1-5-32-544", &sid));
  EXPECT_EQ(handles.size(), 2u);
  EXPECT_EQ(sim.open_kernel_handles(), 1);
  EXPECT_EQ(sim.open_service_handles(), 1);
  EXPECT_EQ(sim.outstanding_local_blocks(), 1);
  EXPECT_FALSE(sim.AllReleased());

  Os().CloseHandle(token);
  Os().CloseServiceHandle(manager);
  Os().LocalFree(sid);
  EXPECT_TRUE(sim.AllReleased()) << sim.LeakReport();
  EXPECT_FALSE(Os().CloseHandle(token));
  EXPECT_EQ(sim.bad_releases(), 1);
  EXPECT_FALSE(sim.AllReleased());
}

TEST(SimulatedPlatformTest, ModulePathTruncatesLikeWindows) {
  SimulatedPlatform sim;
  sim.SetModulePath(L"C:\\abcdef.exe");
  wchar_t buffer[8];
  EXPECT_EQ(Os().GetModuleFileNameW(nullptr, buffer, 8), 8u);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_STREQ(buffer, L"C:\\abcd");
}

// Paths through junctions land in the target unless the link itself is
// opened; hard links share one file; new files inherit; access follows the
// caller, and a handle keeps what it was granted.
TEST(SimulatedPlatformTest, FilesBehaveLikeNtfsForEachCaller) {
  SimulatedPlatform sim;
  const SimulatedPlatform::User a{kUserA, false, false};
  const SimulatedPlatform::User b{kUserB, false, false};
  sim.AddJunction(L"C:\\j", L"C:\\t");
  sim.RunAs(a, [&] { EXPECT_EQ(sim.WriteContents(L"C:\\j\\f", "x"), 0u); });
  EXPECT_EQ(sim.FileContents(L"C:\\t\\f"), "x");
  wchar_t path[64];
  for (DWORD flags :
       {DWORD{FILE_FLAG_BACKUP_SEMANTICS},
        DWORD{FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT}}) {
    ScopedFileHandle h(Os().CreateFileW(L"C:\\j", FILE_READ_ATTRIBUTES, 7,
                                        nullptr, OPEN_EXISTING, flags,
                                        nullptr));
    ASSERT_TRUE(h);
    Os().GetFinalPathNameByHandleW(h.Get(), path, 64, 0);
    EXPECT_STREQ(path, flags & FILE_FLAG_OPEN_REPARSE_POINT ? L"\\\\?\\C:\\j"
                                                            : L"\\\\?\\C:\\t");
  }

  sim.AddHardLink(L"C:\\t\\g", L"C:\\t\\f");
  EXPECT_EQ(sim.LinkCount(L"C:\\t\\f"), 2);
  SimulatedPlatform::Node& folder = sim.AddDirectory(L"C:\\d");
  folder.dacl = L"D:P(A;OICI;FA;;;SY)(A;OICIIO;GA;;;CO)(A;;0x1200AB;;;" +
                std::wstring(kUserA) + L")";
  sim.RunAs(a, [&] {
    ScopedFileHandle h(Os().CreateFileW(L"C:\\d\\n", GENERIC_WRITE, 0, nullptr,
                                        CREATE_NEW, 0, nullptr));
    EXPECT_TRUE(h);
  });
  EXPECT_EQ(SddlAces(sim.FindNode(L"C:\\d\\n")->dacl),
            (std::vector<std::wstring>{L"A;ID;FA;;;SY",
                                       L"A;ID;FA;;;" + std::wstring(kUserA)}));

  HANDLE kept = INVALID_HANDLE_VALUE;
  sim.RunAs(a, [&] {
    kept = sim.OpenForeign(L"C:\\d\\n", WRITE_DAC, 7);
    EXPECT_EQ(sim.SetDacl(L"C:\\d\\n", L"D:P(A;;FA;;;SY)"), 0u);
    EXPECT_EQ(sim.Read(L"C:\\d\\n"), std::nullopt);
  });
  sim.RunAs(b, [&] {
    EXPECT_EQ(sim.SetDacl(L"C:\\d\\n", L"D:"),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(sim.Rename(L"C:\\d\\n", L"C:\\d\\m"),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
  });
  EXPECT_EQ(sim.SetDaclByHandle(kept, L"D:P(A;;FA;;;WD)"), 0u);

  std::vector<std::string> seen;
  sim.before_call = [&](const std::string& function) {
    seen.push_back(function);
    Os().GetDriveTypeW(L"C:\\");  // from inside: neither hooked nor logged
  };
  Os().Sleep(1);
  EXPECT_EQ(seen, std::vector<std::string>{"Sleep"});
  EXPECT_EQ(sim.CountCalls("GetDriveTypeW"), 0);
}

}  // namespace
}  // namespace tunnel_control::testing
