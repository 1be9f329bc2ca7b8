#include "app/tunnel_control/client/service_control.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

#include "app/tunnel_control/common/op_error.h"
#include "app/tunnel_control/common/service_wait.h"
#include "app/tunnel_control/common/tunnel_names.h"
#include "tests/tunnel_control/support/outcome_matchers.h"
#include "tests/tunnel_control/support/simulated_test.h"

namespace tunnel_control::testing {
namespace {

constexpr char kConfig[] =
    "[Interface]\r\nPrivateKey = YllZEuTFs3LIEGxHdv44W+n2nIKREEgSQv/Su6Uaubw="
    "\r\nAddress = 10.7.0.2/32\r\n\r\n[Peer]\r\nPublicKey = "
    "Ux/WWMDIsQVDqY00dkHuYEGbZcyL0YOpCwZZH0sh/HY=\r\nAllowedIPs = "
    "0.0.0.0/0\r\n";

class ServiceControlTest : public testing::SimulatedTest {
 protected:
  // The service and its directory as a finished install leaves them.
  SimulatedPlatform::Service& Installed() {
    sim_.AddDirectory(kDataDirectory);
    return sim_.AddService(kTunnelServiceName);
  }

  // Makes the elevated copy install the service (when missing) and the
  // directory, then lift whatever `repair` undoes.
  void InstallerInstalls(
      std::function<void(SimulatedPlatform::Service&)> repair = nullptr) {
    sim_.elevation().run = [this, repair](const auto&) -> DWORD {
      sim_.AddDirectory(kDataDirectory);
      SimulatedPlatform::Service* service =
          sim_.FindService(kTunnelServiceName);
      if (service == nullptr) service = &sim_.AddService(kTunnelServiceName);
      if (repair) repair(*service);
      return 0;
    };
  }

  SimulatedPlatform::Service* service() {
    return sim_.FindService(kTunnelServiceName);
  }
  std::optional<std::string> config_file() {
    return sim_.FileContents(kConfigPath);
  }
  size_t launches() const { return sim_.shell_executions().size(); }

  OpError error_;
};

// Each operation works for a user whom the service grants only the rights
// that operation needs, holds no more than those and the right to connect to
// the service manager while it runs, and leaves no handle open.
TEST_F(ServiceControlTest, EachOperationAsksForItsOwnAccessAndClosesInOrder) {
  struct Row {
    const char* name;
    DWORD needs;
    std::function<bool()> run;
    // The running tunnel afterwards: its state, stops, starts and file.
    DWORD state;
    int stops;
    int starts;
    std::optional<std::string> file;
  };
  const Row rows[] = {
      {"connect", SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP,
       [&] { return ConnectTunnel(kConfig, &error_); }, SERVICE_RUNNING, 1, 1,
       kConfig},
      {"disconnect", SERVICE_QUERY_STATUS | SERVICE_STOP,
       [&] { return DisconnectTunnel(&error_); }, SERVICE_STOPPED, 1, 0,
       std::nullopt},
      {"stage", SERVICE_QUERY_STATUS,
       [&] { return QueryTunnelStage() == "connected"; }, SERVICE_RUNNING, 0, 0,
       "old"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SimulatedPlatform::Service& s = Installed();
    s.state = SERVICE_RUNNING;
    wchar_t mask[16];
    std::swprintf(mask, std::size(mask), L"0x%lX", row.needs);
    s.sddl = L"D:(A;;" + std::wstring(mask) + L";;;" + sim_.user().sid + L")";
    sim_.AddFile(kConfigPath, "old");
    DWORD manager_held = 0;
    DWORD service_held = 0;
    sim_.before_call = [&](const std::string&) {
      manager_held |= sim_.held_manager_access();
      service_held |= sim_.held_service_access();
    };
    EXPECT_TRUE(row.run()) << error_.message;
    sim_.before_call = nullptr;
    EXPECT_EQ(manager_held, static_cast<DWORD>(SC_MANAGER_CONNECT));
    EXPECT_EQ(service_held, row.needs);
    EXPECT_EQ(sim_.open_service_handles(), 0);
    EXPECT_EQ(sim_.open_file_handles(), 0);
    EXPECT_EQ(s.state, row.state);
    EXPECT_EQ(s.stop_controls, row.stops);
    EXPECT_EQ(s.start_count, row.starts);
    EXPECT_EQ(config_file(), row.file);
  }
  EXPECT_EQ(launches(), 0u);
}

// --- Connect: elevation ------------------------------------------------

TEST(ConnectDecisionTest, ElevatesOnceAndOnlyWhereTheInstallerCanHelp) {
  using A = ConnectAction;
  using S = ConnectStep;
  struct Row {
    S step;
    bool succeeded;
    DWORD error;
    bool installed;
    A action;
  };
  const Row rows[] = {
      {S::kOpenService, true, ERROR_SUCCESS, false, A::kGoOn},
      {S::kOpenService, true, ERROR_SUCCESS, true, A::kGoOn},
      {S::kOpenService, false, ERROR_SERVICE_DOES_NOT_EXIST, false,
       A::kElevate},
      {S::kOpenService, false, ERROR_ACCESS_DENIED, false, A::kElevate},
      {S::kOpenService, false, ERROR_SERVICE_DOES_NOT_EXIST, true, A::kFail},
      {S::kOpenService, false, ERROR_ACCESS_DENIED, true, A::kFail},
      {S::kOpenService, false, ERROR_INVALID_NAME, false, A::kFail},
      {S::kWriteConfig, true, ERROR_SUCCESS, true, A::kGoOn},
      {S::kWriteConfig, false, ERROR_SUCCESS, false, A::kElevate},
      {S::kWriteConfig, false, ERROR_SUCCESS, true, A::kFail},
      {S::kWriteConfig, false, ERROR_ACCESS_DENIED, false, A::kElevate},
      {S::kWriteConfig, false, ERROR_SHARING_VIOLATION, false, A::kFail},
      {S::kStartService, true, ERROR_SUCCESS, true, A::kGoOn},
      {S::kStartService, false, ERROR_ACCESS_DENIED, false, A::kElevate},
      {S::kStartService, false, ERROR_ACCESS_DENIED, true, A::kFail},
      {S::kStartService, false, ERROR_SERVICE_DOES_NOT_EXIST, false, A::kFail},
      {S::kStartService, false, ERROR_SERVICE_DISABLED, false, A::kFail},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    const Row& row = rows[i];
    EXPECT_EQ(
        NextConnectAction(row.step, row.succeeded, row.error, row.installed),
        row.action)
        << "row " << i;
  }
}

TEST_F(ServiceControlTest, FirstConnectInstallsElevatedThenWritesAndStarts) {
  InstallerInstalls();
  ASSERT_TRUE(ConnectTunnel(kConfig, &error_)) << error_.message;
  EXPECT_EQ(launches(), 1u);
  ASSERT_NE(service(), nullptr);
  EXPECT_EQ(service()->state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(service()->start_count, 1);
  EXPECT_EQ(config_file(), kConfig);
  EXPECT_EQ(QueryTunnelStage(), "connected");
}

TEST_F(ServiceControlTest, DeclinedElevationInstallsNothing) {
  sim_.elevation().launch_error = ERROR_CANCELLED;
  InstallerInstalls();
  EXPECT_FALSE(ConnectTunnel(kConfig, &error_));
  EXPECT_TRUE(ErrorIs(error_, kElevationDeclined, 1223));
  EXPECT_EQ(service(), nullptr);
  EXPECT_EQ(config_file(), std::nullopt);
}

TEST_F(ServiceControlTest, FailedInstallerEndsTheConnectWithItsExitCode) {
  sim_.elevation().run = [](const auto&) -> DWORD { return 13; };
  EXPECT_FALSE(ConnectTunnel(kConfig, &error_));
  EXPECT_TRUE(ErrorIs(error_, kInstallHelperFailed, 13));
  EXPECT_EQ(launches(), 1u);
  EXPECT_EQ(config_file(), std::nullopt);  // the connect ends there
}

TEST_F(ServiceControlTest, InstallerStillRunningAfter120sIsNotRetried) {
  sim_.elevation().finishes = false;
  const uint64_t start = sim_.now();
  EXPECT_FALSE(ConnectTunnel(kConfig, &error_));
  EXPECT_TRUE(ErrorIs(error_, kInstallHelperFailed, 259));
  EXPECT_EQ(sim_.now() - start, 120'000u);
  EXPECT_EQ(launches(), 1u);
  EXPECT_EQ(config_file(), std::nullopt);  // the connect ends there
}

TEST_F(ServiceControlTest, SecondUserWithoutStartRightsElevatesThenProceeds) {
  Installed().denied_access = SERVICE_START | SERVICE_STOP;
  InstallerInstalls([](SimulatedPlatform::Service& s) { s.denied_access = 0; });
  ASSERT_TRUE(ConnectTunnel(kConfig, &error_)) << error_.message;
  ASSERT_EQ(launches(), 1u);
  EXPECT_EQ(sim_.shell_executions()[0].parameters,
            L"/tunnel-install " + sim_.user().sid);
  EXPECT_EQ(service()->state, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(ServiceControlTest, ServiceStillOutOfReachAfterInstallIsUnavailable) {
  Installed().denied_access = SERVICE_START;
  InstallerInstalls();  // repairs nothing
  EXPECT_FALSE(ConnectTunnel(kConfig, &error_));
  EXPECT_TRUE(ErrorIs(error_, kServiceUnavailable, 5));
  EXPECT_EQ(launches(), 1u);
}

TEST_F(ServiceControlTest, OtherOpenFailureDoesNotElevate) {
  Installed();
  sim_.FailOnce("OpenServiceW", ERROR_INVALID_NAME);
  EXPECT_FALSE(ConnectTunnel(kConfig, &error_));
  EXPECT_TRUE(ErrorIs(error_, kServiceUnavailable, 123));
  EXPECT_EQ(launches(), 0u);
}

TEST_F(ServiceControlTest, ConfigWriteDeniedOnceElevatesAndRetries) {
  Installed();
  InstallerInstalls();
  sim_.FailOnce("CreateFileW", ERROR_ACCESS_DENIED);
  // The first attempt's record may remain; a true result is never shown.
  ASSERT_TRUE(ConnectTunnel(kConfig, &error_));
  EXPECT_EQ(launches(), 1u);
  EXPECT_EQ(config_file(), kConfig);
  EXPECT_EQ(service()->state, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(ServiceControlTest, ConfigWriteDeniedAfterInstallFails) {
  Installed();
  InstallerInstalls();
  sim_.FailAlways("CreateFileW", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(ConnectTunnel(kConfig, &error_));
  EXPECT_TRUE(ErrorIs(error_, kConfigWriteFailed, 5));
  EXPECT_EQ(launches(), 1u);
  EXPECT_EQ(service()->start_count, 0);
}

// A tunnel still stopping holds its configuration: no elevation can change
// that, so the connect fails at once with the reason and prompts for nothing.
TEST_F(ServiceControlTest, ConfigHeldByAStoppingTunnelFailsWithoutPrompt) {
  SimulatedPlatform::Service& s = Installed();
  s.state = SERVICE_STOP_PENDING;
  InstallerInstalls();
  sim_.AddFile(kConfigPath, "old");
  HANDLE held = nullptr;
  sim_.RunAs({L"S-1-5-18", false, true}, [&] {
    held = sim_.OpenForeign(kConfigPath, FILE_READ_DATA, FILE_SHARE_READ);
  });
  EXPECT_FALSE(ConnectTunnel(kConfig, &error_));
  EXPECT_TRUE(ErrorIs(error_, kConfigWriteFailed, 32));
  EXPECT_EQ(launches(), 0u);
  EXPECT_EQ(s.start_count, 0);
  EXPECT_EQ(config_file(), "old");
  sim_.CloseForeign(held);
}

// The service manager reads the tunnel stopped before its host has ended
// and let go of the configuration: connect and disconnect wait for that,
// within the stop wait, instead of failing or leaving the file behind.
TEST_F(ServiceControlTest, HostLettingGoAfterTheStopIsWaitedFor) {
  SimulatedPlatform::Service& s = Installed();
  const SimulatedPlatform::User system{L"S-1-5-18", false, true};
  HANDLE held = nullptr;
  std::optional<uint64_t> stopped_at;
  const auto hold = [&] {
    sim_.AddFile(kConfigPath, "old");
    sim_.RunAs(system, [&] {
      held = sim_.OpenForeign(kConfigPath, FILE_READ_DATA, FILE_SHARE_READ);
    });
    s.state = SERVICE_RUNNING;
    stopped_at.reset();
  };
  s.on_stop = [&](SimulatedPlatform::Service&) { stopped_at = sim_.now(); };
  sim_.before_call = [&](const std::string&) {
    if (held != nullptr && stopped_at && sim_.now() >= *stopped_at + 1'000) {
      sim_.CloseForeign(held);
      held = nullptr;
    }
  };

  hold();
  ASSERT_TRUE(ConnectTunnel(kConfig, &error_)) << error_.message;
  EXPECT_EQ(config_file(), kConfig);
  EXPECT_EQ(launches(), 0u);

  hold();
  EXPECT_TRUE(DisconnectTunnel(&error_)) << error_.message;
  EXPECT_EQ(config_file(), std::nullopt);
  sim_.before_call = nullptr;
}

TEST_F(ServiceControlTest, StartDeniedTwiceElevatesOnlyOnce) {
  Installed().start_error = ERROR_ACCESS_DENIED;
  InstallerInstalls();
  EXPECT_FALSE(ConnectTunnel(kConfig, &error_));
  EXPECT_TRUE(ErrorIs(error_, kStartFailed, 5));
  EXPECT_EQ(launches(), 1u);
  EXPECT_EQ(service()->start_count, 0);
  EXPECT_EQ(config_file(), std::nullopt);
}

TEST_F(ServiceControlTest, StartDeniedOnceElevatesAndStarts) {
  Installed().start_error = ERROR_ACCESS_DENIED;
  InstallerInstalls([](SimulatedPlatform::Service& s) { s.start_error = 0; });
  ASSERT_TRUE(ConnectTunnel(kConfig, &error_));
  EXPECT_EQ(launches(), 1u);
  EXPECT_EQ(config_file(), kConfig);
}

TEST_F(ServiceControlTest, OtherStartFailureDeletesConfigWithoutElevation) {
  Installed().start_error = ERROR_SERVICE_DISABLED;
  EXPECT_FALSE(ConnectTunnel(kConfig, &error_));
  EXPECT_TRUE(ErrorIs(error_, kStartFailed, 1058));
  EXPECT_EQ(launches(), 0u);
  EXPECT_EQ(config_file(), std::nullopt);
}

// --- Connect: previous instance ------------------------------------------

class PreviousInstanceTest : public ServiceControlTest,
                             public ::testing::WithParamInterface<DWORD> {};

TEST_P(PreviousInstanceTest, IsStoppedBeforeTheConfigIsReplaced) {
  SimulatedPlatform::Service& s = Installed();
  s.state = GetParam();
  s.accepts_stop_while_start_pending = true;
  s.stop_pending_ms = 2'000;
  sim_.AddFile(kConfigPath, "old configuration that is longer than the new");
  // The old instance holds its file open, shared for reading only, until
  // its process ends: replacing the file earlier fails.
  HANDLE held = nullptr;
  sim_.RunAs({L"S-1-5-18", false, true}, [&] {
    held = sim_.OpenForeign(kConfigPath, FILE_READ_DATA, FILE_SHARE_READ);
  });
  s.on_stop = [&](SimulatedPlatform::Service&) {
    sim_.CloseForeign(held);
    held = nullptr;
  };
  std::optional<std::string> started_on;
  s.on_start = [&](SimulatedPlatform::Service&) { started_on = config_file(); };
  ASSERT_TRUE(ConnectTunnel(kConfig, &error_)) << error_.message;
  EXPECT_EQ(s.stop_controls, 1);
  EXPECT_EQ(s.start_count, 1);
  EXPECT_EQ(config_file(), kConfig);
  EXPECT_EQ(started_on, kConfig);
  EXPECT_EQ(launches(), 0u);
  if (held != nullptr) sim_.CloseForeign(held);
}

INSTANTIATE_TEST_SUITE_P(RunningOrStarting, PreviousInstanceTest,
                         ::testing::Values(SERVICE_RUNNING,
                                           SERVICE_START_PENDING));

TEST_F(ServiceControlTest, PreviousInstanceNotStoppingWithin10sFails) {
  SimulatedPlatform::Service& s = Installed();
  s.state = SERVICE_RUNNING;
  s.stop_pending_ms = 60'000;
  const uint64_t start = sim_.now();
  EXPECT_FALSE(ConnectTunnel(kConfig, &error_));
  EXPECT_TRUE(ErrorIs(error_, kPreviousStopTimedOut));
  EXPECT_GE(sim_.now() - start, 10'000u);
  EXPECT_LT(sim_.now() - start, 10'250u);
  EXPECT_EQ(config_file(), std::nullopt);  // nothing written
  EXPECT_EQ(s.start_count, 0);
}

TEST_F(ServiceControlTest, ServiceNeitherRunningNorStartingIsNotStopped) {
  for (DWORD state : {SERVICE_STOPPED, SERVICE_PAUSED}) {
    SimulatedPlatform::Service& s = Installed();
    s.state = state;
    ConnectTunnel(kConfig, &error_);
    EXPECT_EQ(s.stop_controls, 0) << state;
  }
}

// --- Connect: start wait ---------------------------------------------------

TEST_F(ServiceControlTest, ServiceStoppingDuringStartWaitIsTunnelFailure) {
  SimulatedPlatform::Service& s = Installed();
  s.start_pending_ms = 1'000;
  s.start_outcome = SERVICE_STOPPED;
  EXPECT_FALSE(ConnectTunnel(kConfig, &error_));
  EXPECT_TRUE(ErrorIs(error_, kTunnelFailed));
  EXPECT_EQ(config_file(), std::nullopt);
}

TEST_F(ServiceControlTest, ServiceStillPendingAfter15sIsLeftPending) {
  SimulatedPlatform::Service& s = Installed();
  s.start_pending_ms = 60'000;
  const uint64_t start = sim_.now();
  EXPECT_FALSE(ConnectTunnel(kConfig, &error_));
  EXPECT_TRUE(ErrorIs(error_, kTunnelFailed));
  EXPECT_GE(sim_.now() - start, 15'000u);
  EXPECT_LT(sim_.now() - start, 15'250u);
  EXPECT_EQ(config_file(), std::nullopt);
  EXPECT_EQ(s.state, static_cast<DWORD>(SERVICE_START_PENDING));
  EXPECT_EQ(s.stop_controls, 0);
}

TEST_F(ServiceControlTest, ConnectWithoutServiceManagerFails) {
  sim_.FailAlways("OpenSCManagerW", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(ConnectTunnel(kConfig, &error_));
  EXPECT_TRUE(ErrorIs(error_, kScmUnavailable, 5));
  EXPECT_EQ(launches(), 0u);
}

TEST_F(ServiceControlTest, ConnectNeedsNoMoreThanQueryStartAndStop) {
  Installed().denied_access =
      SERVICE_ALL_ACCESS &
      ~(SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP);
  EXPECT_TRUE(ConnectTunnel(kConfig, &error_)) << error_.message;
  EXPECT_EQ(launches(), 0u);
}

// --- Disconnect --------------------------------------------------------------

TEST_F(ServiceControlTest, DisconnectWithoutServiceDeletesLeftoverConfig) {
  sim_.AddDirectory(kDataDirectory);
  sim_.AddFile(kConfigPath, kConfig);
  EXPECT_TRUE(DisconnectTunnel(&error_));
  EXPECT_EQ(config_file(), std::nullopt);
  EXPECT_TRUE(NoError(error_));
}

TEST_F(ServiceControlTest, DisconnectOfStoppedServiceSendsNoStop) {
  // A stop would be refused, and fail the disconnect.
  Installed().stop_error = ERROR_ACCESS_DENIED;
  sim_.AddFile(kConfigPath, kConfig);
  EXPECT_TRUE(DisconnectTunnel(&error_));
  EXPECT_EQ(service()->stop_controls, 0);
  EXPECT_EQ(config_file(), std::nullopt);
}

TEST_F(ServiceControlTest, DisconnectStopsRunningService) {
  SimulatedPlatform::Service& s = Installed();
  s.state = SERVICE_RUNNING;
  s.stop_pending_ms = 1'000;
  sim_.AddFile(kConfigPath, kConfig);
  EXPECT_TRUE(DisconnectTunnel(&error_));
  EXPECT_EQ(s.state, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(config_file(), std::nullopt);
  EXPECT_EQ(QueryTunnelStage(), "disconnected");
}

TEST_F(ServiceControlTest, DisconnectTreatsNotActiveAsStoppedAfterTheWait) {
  SimulatedPlatform::Service& s = Installed();
  s.state = SERVICE_RUNNING;
  s.stop_error = ERROR_SERVICE_NOT_ACTIVE;
  sim_.AddFile(kConfigPath, kConfig);
  EXPECT_TRUE(DisconnectTunnel(&error_));
  EXPECT_EQ(config_file(), std::nullopt);
}

TEST_F(ServiceControlTest, DisconnectWithStopRefusedKeepsTheFile) {
  SimulatedPlatform::Service& s = Installed();
  s.state = SERVICE_RUNNING;
  s.stop_error = ERROR_ACCESS_DENIED;
  sim_.AddFile(kConfigPath, kConfig);
  EXPECT_FALSE(DisconnectTunnel(&error_));
  EXPECT_TRUE(ErrorIs(error_, kStopFailed, 5));
  EXPECT_EQ(config_file(), kConfig);
}

TEST_F(ServiceControlTest, SlowStopPastTheDeadlineStillDisconnects) {
  SimulatedPlatform::Service& s = Installed();
  s.state = SERVICE_RUNNING;
  s.stop_pending_ms = 30'000;
  sim_.AddFile(kConfigPath, kConfig);
  const uint64_t start = sim_.now();
  EXPECT_TRUE(DisconnectTunnel(&error_));
  EXPECT_GE(sim_.now() - start, 10'000u);
  EXPECT_LT(sim_.now() - start, 10'250u);
  EXPECT_EQ(config_file(), std::nullopt);
  EXPECT_EQ(s.state, static_cast<DWORD>(SERVICE_STOP_PENDING));
}

TEST_F(ServiceControlTest, DisconnectWithoutServiceManagerLeavesTheFile) {
  sim_.AddDirectory(kDataDirectory);
  sim_.AddFile(kConfigPath, kConfig);
  sim_.FailAlways("OpenSCManagerW", RPC_S_SERVER_UNAVAILABLE);
  EXPECT_FALSE(DisconnectTunnel(&error_));
  EXPECT_TRUE(ErrorIs(error_, kScmUnavailable, 1722));
  EXPECT_EQ(config_file(), kConfig);
}

TEST_F(ServiceControlTest, DisconnectWithoutStopRightsDeletesTheFile) {
  Installed().denied_access = SERVICE_STOP;
  sim_.AddFile(kConfigPath, kConfig);
  EXPECT_FALSE(DisconnectTunnel(&error_));
  EXPECT_TRUE(ErrorIs(error_, kServiceUnavailable, 5));
  EXPECT_EQ(config_file(), std::nullopt);
}

TEST_F(ServiceControlTest, DisconnectNeedsNoStartRight) {
  SimulatedPlatform::Service& s = Installed();
  s.state = SERVICE_RUNNING;
  s.denied_access = SERVICE_START;
  EXPECT_TRUE(DisconnectTunnel(&error_)) << error_.message;
}

// --- Stage -------------------------------------------------------------------

TEST(StageForStateTest, OnlyStartingRunningAndStoppingShowAsSuch) {
  const std::pair<DWORD, std::string> rows[] = {
      {SERVICE_STOPPED, "disconnected"},
      {SERVICE_START_PENDING, "connecting"},
      {SERVICE_STOP_PENDING, "disconnecting"},
      {SERVICE_RUNNING, "connected"},
      {SERVICE_CONTINUE_PENDING, "disconnected"},
      {SERVICE_PAUSE_PENDING, "disconnected"},
      {SERVICE_PAUSED, "disconnected"},
      {0, "disconnected"},  // the state could not be read
  };
  for (const auto& [state, stage] : rows) {
    EXPECT_EQ(StageForState(state), stage) << state;
  }
}

TEST_F(ServiceControlTest, StageNeedsOnlyTheQueryRight) {
  SimulatedPlatform::Service& s = Installed();
  s.state = SERVICE_START_PENDING;
  // Any interactive user may read the stage: only the query right is needed.
  s.denied_access = SERVICE_ALL_ACCESS & ~SERVICE_QUERY_STATUS;
  EXPECT_EQ(QueryTunnelStage(), "connecting");
}

TEST_F(ServiceControlTest, StageIsDisconnectedWhenAnythingCannotBeRead) {
  EXPECT_EQ(QueryTunnelStage(), "disconnected");  // no service

  Installed().state = SERVICE_RUNNING;
  ASSERT_EQ(QueryTunnelStage(), "connected");
  for (const char* function :
       {"OpenSCManagerW", "OpenServiceW", "QueryServiceStatusEx"}) {
    for (DWORD error : {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE}) {
      sim_.FailOnce(function, error);
      EXPECT_EQ(QueryTunnelStage(), "disconnected") << function << error;
    }
  }
}

TEST_F(ServiceControlTest, QueryServiceStateIsZeroWhenTheQueryFails) {
  Installed().state = SERVICE_PAUSED;
  SC_HANDLE manager = Os().OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service =
      Os().OpenServiceW(manager, kTunnelServiceName, SERVICE_QUERY_STATUS);
  EXPECT_EQ(QueryServiceState(service), static_cast<DWORD>(SERVICE_PAUSED));
  sim_.FailOnce("QueryServiceStatusEx", ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(QueryServiceState(service), 0u);
  Os().CloseServiceHandle(service);
  Os().CloseServiceHandle(manager);
}

}  // namespace
}  // namespace tunnel_control::testing
