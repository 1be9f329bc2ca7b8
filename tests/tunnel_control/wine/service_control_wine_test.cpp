// Connect, disconnect and the stage against Wine's service manager, with
// the tunnel service provisioned as the installer leaves it.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/tunnel_control/client/service_control.h"
#include "app/tunnel_control/common/op_error.h"
#include "app/tunnel_control/common/tunnel_names.h"
#include "app/tunnel_control/common/tunnel_paths.h"
#include "tests/tunnel_control/support/outcome_matchers.h"
#include "tests/tunnel_control/wine/provisioned_service.h"

namespace tunnel_control::testing {
namespace {

constexpr char kConfigA[] =
    "[Interface]\r\n"
    "PrivateKey = YllZEuTFs3LIEGxHdv44W+n2nIKREEgSQv/Su6Uaubw=\r\n"
    "Address = 10.66.0.2/32\r\n"
    "\r\n"
    "[Peer]\r\n"
    "PublicKey = Ux/WWMDIsQVDqY00dkHuYEGbZcyL0YOpCwZZH0sh/HY=\r\n"
    "AllowedIPs = 0.0.0.0/0\r\n";
// Unix line ends and two peers: the file must hold it unchanged too.
constexpr char kConfigB[] =
    "[Interface]\n"
    "PrivateKey = iKerBlpSds7bi7G30jmme+g7dpMKNCQt3n0DoyGiurc=\n"
    "Address = 10.66.0.3/32\n"
    "\n"
    "[Peer]\n"
    "PublicKey = hLaWlCthwBDV0Cl9PsLO3nvbGXoMPnXMBIQSFpAfztM=\n"
    "AllowedIPs = 10.66.0.0/24\n"
    "\n"
    "[Peer]\n"
    "PublicKey = Ux/WWMDIsQVDqY00dkHuYEGbZcyL0YOpCwZZH0sh/HY=\n"
    "AllowedIPs = 192.168.77.0/24\n";
// No private key: the tunnel refuses it and its service stops.
constexpr char kRejectedConfig[] =
    "[Interface]\n"
    "Address = 10.66.0.4/32\n"
    "\n"
    "[Peer]\n"
    "PublicKey = hLaWlCthwBDV0Cl9PsLO3nvbGXoMPnXMBIQSFpAfztM=\n"
    "AllowedIPs = 0.0.0.0/0\n";

std::string WithTimings(const char* config, const char* stand_in) {
  return std::string(config) + "\n[StandIn]\n" + stand_in + "\n";
}

class TunnelServiceEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::string provisioned = ProvisionTunnelService();
    ASSERT_EQ(provisioned, "");
    const std::string warmed = WarmUpTunnelService(kConfigA);
    ASSERT_EQ(warmed, "");
  }
  void TearDown() override { RemoveService(kTunnelServiceName); }
};

const ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new TunnelServiceEnvironment);

class ServiceControlWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DisconnectAndSettle();
    ASSERT_EQ(QueryTunnelStage(), "disconnected");
  }
  void TearDown() override { DisconnectAndSettle(); }

  // Disconnects and lets the service settle: Wine's service manager fails
  // a start with error 6 for a short while after the previous service
  // process has gone, where Windows would simply start a new one.
  static void DisconnectAndSettle() {
    OpError error;
    EXPECT_TRUE(DisconnectOnWine(&error)) << error.message;
    WaitForServiceProcessesToEnd();
    ::Sleep(1'000);
  }

  // Connects, trying again while the start fails with error 6: the same
  // Wine quirk can outlast the settling time on a loaded machine, and also
  // strikes when a connect restarts a service that has just stopped.
  static bool ConnectOnWine(const std::string& config, OpError* error) {
    for (int attempt = 1;; ++attempt) {
      if (ConnectTunnel(config, error)) return true;
      const bool wine_start_quirk = ErrorIs(*error, kStartFailed, 6);
      if (!wine_start_quirk || attempt == 10) return false;
      ::Sleep(500);
    }
  }

  // Disconnects, trying again while the stop fails with error 6: Wine's
  // service manager can refuse a control that way to a service that has just
  // reported running.
  static bool DisconnectOnWine(OpError* error) {
    for (int attempt = 1;; ++attempt) {
      if (DisconnectTunnel(error)) return true;
      const bool wine_stop_quirk = ErrorIs(*error, kStopFailed, 6);
      if (!wine_stop_quirk || attempt == 10) return false;
      ::Sleep(500);
    }
  }

  // Polls the stage until it reads `stage` or `operation` has ended.
  static bool StageSeenDuring(const std::atomic<bool>& done,
                              const char* stage) {
    const ULONGLONG deadline = ::GetTickCount64() + 30'000;
    while (::GetTickCount64() < deadline) {
      if (QueryTunnelStage() == stage) return true;
      if (done) return false;
      ::Sleep(20);
    }
    return false;
  }
};

TEST_F(ServiceControlWineTest, ConnectRunsTheTunnelOnTheTextByteForByte) {
  OpError error;
  ASSERT_TRUE(ConnectOnWine(kConfigA, &error))
      << error.code << ": " << error.message;
  EXPECT_EQ(QueryTunnelStage(), "connected");
  EXPECT_EQ(ReadTextFile(ConfigFilePath()), kConfigA);
}

TEST_F(ServiceControlWineTest, SecondConnectStopsRewritesAndRestarts) {
  OpError error;
  ASSERT_TRUE(ConnectOnWine(kConfigA, &error)) << error.message;
  const DWORD first_process = ServiceProcessId();
  ASSERT_NE(first_process, 0u);

  ASSERT_TRUE(ConnectOnWine(kConfigB, &error))
      << error.code << ": " << error.message;
  EXPECT_EQ(QueryTunnelStage(), "connected");
  EXPECT_EQ(ReadTextFile(ConfigFilePath()), kConfigB);
  // A new service process means the old one was stopped and a new start ran.
  const DWORD second_process = ServiceProcessId();
  EXPECT_NE(second_process, 0u);
  EXPECT_NE(second_process, first_process);
}

TEST_F(ServiceControlWineTest, RejectedConfigIsTunnelFailureWithoutFile) {
  OpError error;
  EXPECT_FALSE(ConnectOnWine(kRejectedConfig, &error));
  EXPECT_TRUE(ErrorIs(error, kTunnelFailed));
  EXPECT_EQ(ReadTextFile(ConfigFilePath()), std::nullopt);
  EXPECT_EQ(QueryTunnelStage(), "disconnected");
}

// A configuration file that is a second name of another file: the connect
// writes a new file and never through the link.
TEST_F(ServiceControlWineTest, HardLinkedConfigLeavesTheOtherFileUntouched) {
  const std::wstring other =
      DataDirectoryPath().substr(0, DataDirectoryPath().rfind(L'\\')) +
      L"\\varn_link_target.txt";
  ::DeleteFileW(other.c_str());
  HANDLE file = ::CreateFileW(other.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << ::GetLastError();
  DWORD written = 0;
  ::WriteFile(file, "untouched", 9, &written, nullptr);
  ::CloseHandle(file);
  ASSERT_TRUE(
      ::CreateHardLinkW(ConfigFilePath().c_str(), other.c_str(), nullptr))
      << ::GetLastError();

  OpError error;
  ASSERT_TRUE(ConnectOnWine(kConfigA, &error)) << error.message;
  EXPECT_EQ(ReadTextFile(ConfigFilePath()), kConfigA);
  EXPECT_EQ(ReadTextFile(other), "untouched");
  ::DeleteFileW(other.c_str());
}

TEST_F(ServiceControlWineTest, DisconnectStopsTheTunnelAndDeletesTheFile) {
  OpError error;
  ASSERT_TRUE(ConnectOnWine(kConfigA, &error)) << error.message;
  EXPECT_TRUE(DisconnectOnWine(&error)) << error.message;
  EXPECT_EQ(QueryTunnelStage(), "disconnected");
  EXPECT_EQ(ReadTextFile(ConfigFilePath()), std::nullopt);
  // A second disconnect finds the service stopped and is just as fine.
  EXPECT_TRUE(DisconnectTunnel(&error)) << error.message;
}

// A connect while the tunnel is stopping and still holds its configuration:
// the write fails with a sharing violation, which no elevation can mend, so
// the connect says so and launches no installer (which would fail with
// "install_failed" under Wine).
TEST_F(ServiceControlWineTest, ConnectWhileStoppingPromptsForNothing) {
  OpError error;
  ASSERT_TRUE(
      ConnectOnWine(WithTimings(kConfigA, "StopDelayMs = 3000"), &error))
      << error.message;
  ScopedScHandle manager = OpenManager();
  ScopedScHandle service(
      ::OpenServiceW(manager.Get(), kTunnelServiceName, SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service);
  SERVICE_STATUS status{};
  ASSERT_TRUE(::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
  ASSERT_TRUE(WaitForState(service.Get(), SERVICE_STOP_PENDING, 2000).reached);
  EXPECT_FALSE(ConnectTunnel(kConfigB, &error));
  EXPECT_TRUE(ErrorIs(error, kConfigWriteFailed, 32));
  EXPECT_NE(ReadTextFile(ConfigFilePath()), kConfigB);
  // The file stays until the tunnel lets it go; a disconnect then removes it.
  EXPECT_TRUE(WaitForState(service.Get(), SERVICE_STOPPED, 10000).reached);
}

TEST_F(ServiceControlWineTest, StageReadsConnectingDuringASlowStart) {
  const std::string config = WithTimings(kConfigA, "StartDelayMs = 3000");
  OpError error;
  bool connected = false;
  std::atomic<bool> done = false;
  std::thread operation([&] {
    connected = ConnectOnWine(config, &error);
    done = true;
  });
  const bool saw_connecting = StageSeenDuring(done, "connecting");
  operation.join();
  EXPECT_TRUE(saw_connecting);
  EXPECT_TRUE(connected) << error.code << ": " << error.message;
  EXPECT_EQ(QueryTunnelStage(), "connected");
}

TEST_F(ServiceControlWineTest, StageReadsDisconnectingDuringASlowStop) {
  const std::string config = WithTimings(kConfigA, "StopDelayMs = 3000");
  OpError error;
  ASSERT_TRUE(ConnectOnWine(config, &error)) << error.message;
  bool disconnected = false;
  std::atomic<bool> done = false;
  std::thread operation([&] {
    disconnected = DisconnectOnWine(&error);
    done = true;
  });
  const bool saw_disconnecting = StageSeenDuring(done, "disconnecting");
  operation.join();
  EXPECT_TRUE(saw_disconnecting);
  EXPECT_TRUE(disconnected) << error.message;
  EXPECT_EQ(QueryTunnelStage(), "disconnected");
  EXPECT_EQ(ReadTextFile(ConfigFilePath()), std::nullopt);
}

}  // namespace
}  // namespace tunnel_control::testing
