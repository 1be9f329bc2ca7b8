// Runs connect, disconnect and the elevated launch once per platform call
// they make, with exactly that call failing, and checks that every run ends
// in a defined state: a vocabulary error or success, everything released,
// and never a truncated configuration file.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/tunnel_control/client/elevated_install.h"
#include "app/tunnel_control/client/service_control.h"
#include "app/tunnel_control/common/error_texts.h"
#include "app/tunnel_control/common/op_error.h"
#include "app/tunnel_control/common/tunnel_names.h"
#include "app/tunnel_control/installer/service_installer.h"
#include "tests/tunnel_control/support/simulated_platform.h"

namespace tunnel_control::testing {
namespace {

constexpr char kConfig[] =
    "[Interface]\nPrivateKey = iKerBlpSds7bi7G30jmme+g7dpMKNCQt3n0DoyGiurc=\n"
    "Address = 10.9.0.2/32\n\n[Peer]\nPublicKey = "
    "hLaWlCthwBDV0Cl9PsLO3nvbGXoMPnXMBIQSFpAfztM=\nAllowedIPs = ::/0\n";
constexpr char kOldConfig[] =
    "[Interface]\nPrivateKey = YllZEuTFs3LIEGxHdv44W+n2nIKREEgSQv/Su6Uaubw=\n"
    "Address = 10.9.0.3/32, fd00::3/128\n\n[Peer]\nPublicKey = "
    "Ux/WWMDIsQVDqY00dkHuYEGbZcyL0YOpCwZZH0sh/HY=\nAllowedIPs = 0.0.0.0/0\n"
    "Endpoint = 192.0.2.1:51820\n";

// Calls that cannot fail in a way a caller could act on: releases, the
// clock and sleeping. Every other call of the seam takes an injected error.
const std::set<std::string> kNotInjectable = {
    "CloseServiceHandle", "CloseHandle", "LocalFree",
    "CoTaskMemFree",      "Sleep",       "GetTickCount64",
    "GetCurrentProcess"};

// Errors each fault point is run with: the one that steers connect into the
// elevation branch, and one that it does not know.
constexpr DWORD kInjectedErrors[] = {ERROR_ACCESS_DENIED, ERROR_GEN_FAILURE};

// True when `error` is one of the code and message pairs operations report.
bool IsVocabulary(const OpError& error) {
  // A number is the message's last word, before its closing parenthesis.
  uint32_t number = 0;
  const size_t space = error.message.rfind(' ');
  if (space != std::string::npos && error.message.ends_with(')')) {
    const char* last = error.message.data() + error.message.size() - 1;
    std::from_chars(error.message.data() + space + 1, last, number);
  }
  for (const ErrorText& entry : kOperationErrors) {
    if (error.code == entry.code && error.message == MessageOf(entry, number)) {
      return true;
    }
  }
  return false;
}

// The install mode's exit code as the elevated launch reports it.
bool Installed(int exit_code, OpError* error) {
  if (exit_code == kInstallSucceeded) return true;
  SetOpError(error, kInstallHelperFailed, exit_code);
  return false;
}

// One operation on one simulated machine.
struct Scenario {
  const char* name;
  std::function<void(SimulatedPlatform&)> arrange;
  std::function<bool(OpError*)> act;
  // Configuration file contents that are complete texts, not truncations.
  std::vector<std::string> whole_files;
  // Success means the tunnel runs on kConfig.
  bool connects = false;
  // The undisturbed run fails too (its failure path's calls are the points).
  bool fails_undisturbed = false;
};

void InstallerInstalls(SimulatedPlatform& sim) {
  sim.elevation().run_ms = 1'000;
  sim.elevation().run = [&sim](const auto&) -> DWORD {
    sim.AddDirectory(kDataDirectory);
    SimulatedPlatform::Service* service = sim.FindService(kTunnelServiceName);
    if (service == nullptr) {
      service = &sim.AddService(kTunnelServiceName);
      service->start_pending_ms = 500;
    }
    service->denied_access = 0;
    return 0;
  };
}

std::vector<Scenario> Scenarios() {
  return {
      {"connect on a machine without the service",
       [](SimulatedPlatform& sim) { InstallerInstalls(sim); },
       [](OpError* e) { return ConnectTunnel(kConfig, e); },
       {kConfig},
       true},
      {"connect replacing a running tunnel",
       [](SimulatedPlatform& sim) {
         sim.AddFile(kConfigPath, kOldConfig);
         SimulatedPlatform::Service& s = sim.AddService(kTunnelServiceName);
         s.state = SERVICE_RUNNING;
         s.stop_pending_ms = 750;
         s.start_pending_ms = 750;
       },
       [](OpError* e) { return ConnectTunnel(kConfig, e); },
       {kConfig, kOldConfig},
       true},
      {"connect by a second user",
       [](SimulatedPlatform& sim) {
         sim.AddDirectory(kDataDirectory);
         sim.AddService(kTunnelServiceName).denied_access =
             SERVICE_START | SERVICE_STOP;
         InstallerInstalls(sim);
       },
       [](OpError* e) { return ConnectTunnel(kConfig, e); },
       {kConfig},
       true},
      {"connect whose tunnel exits during start-up",
       [](SimulatedPlatform& sim) {
         sim.AddDirectory(kDataDirectory);
         SimulatedPlatform::Service& s = sim.AddService(kTunnelServiceName);
         s.start_pending_ms = 500;
         s.start_outcome = SERVICE_STOPPED;
       },
       [](OpError* e) { return ConnectTunnel(kConfig, e); },
       {kConfig},
       true,
       true},
      {"disconnect without a service",
       [](SimulatedPlatform& sim) { sim.AddFile(kConfigPath, kConfig); },
       [](OpError* e) { return DisconnectTunnel(e); },
       {kConfig}},
      {"disconnect of a running tunnel",
       [](SimulatedPlatform& sim) {
         sim.AddFile(kConfigPath, kConfig);
         SimulatedPlatform::Service& s = sim.AddService(kTunnelServiceName);
         s.state = SERVICE_RUNNING;
         s.stop_pending_ms = 750;
       },
       [](OpError* e) { return DisconnectTunnel(e); },
       {kConfig}},
      {"elevated launch",
       [](SimulatedPlatform& sim) { sim.elevation().run_ms = 2'000; },
       [](OpError* e) { return RunElevatedInstall(e); },
       {}},
      {"install over the previous user's directory",
       [](SimulatedPlatform& sim) {
         sim.user().elevated = true;
         sim.AddDirectory(kDataDirectory).owner = L"BA";
         sim.AddFile(kConfigPath, kOldConfig).owner = kUserA;
         sim.AddFile(std::wstring(kDataDirectory) + L"\\log.bin", "log").owner =
             L"SY";
         sim.AddService(kTunnelServiceName);
       },
       [](OpError* e) { return Installed(RunInstallMode(kUserB), e); },
       {kOldConfig}},
  };
}

// The injectable calls of an undisturbed run, as (function, nth use).
std::vector<std::pair<std::string, int>> FaultPoints(const Scenario& scenario) {
  SimulatedPlatform sim;
  scenario.arrange(sim);
  OpError error;
  EXPECT_NE(scenario.act(&error), scenario.fails_undisturbed)
      << error.code << ": " << error.message;
  std::map<std::string, int> uses;
  std::vector<std::pair<std::string, int>> points;
  for (const std::string& call : sim.calls()) {
    const std::string function = call.substr(0, call.find('('));
    if (kNotInjectable.count(function) != 0) continue;
    points.emplace_back(function, ++uses[function]);
  }
  return points;
}

int total_fault_points = 0;

class FaultInjectionTest : public ::testing::TestWithParam<size_t> {};

TEST_P(FaultInjectionTest, EveryCallFailingOnceEndsInADefinedState) {
  const Scenario scenario = Scenarios()[GetParam()];
  const std::vector<std::pair<std::string, int>> points = FaultPoints(scenario);
  ASSERT_FALSE(points.empty());

  int runs = 0;
  for (const auto& [function, nth] : points) {
    for (DWORD injected : kInjectedErrors) {
      SCOPED_TRACE(function + " use " + std::to_string(nth) + " fails with " +
                   std::to_string(injected));
      SimulatedPlatform sim;
      scenario.arrange(sim);
      sim.FailOnUse(function, injected, nth);
      OpError error;
      const bool succeeded = scenario.act(&error);
      ++runs;

      if (!succeeded) {
        EXPECT_TRUE(IsVocabulary(error))
            << "code \"" << error.code << "\", message \"" << error.message
            << "\"";
      }
      EXPECT_TRUE(sim.AllReleased()) << sim.LeakReport();
      for (const std::wstring& path : sim.privileged_changes()) {
        EXPECT_EQ(path.rfind(kDataDirectory, 0), 0u) << Narrow(path);
      }
      const std::optional<std::string> file = sim.FileContents(kConfigPath);
      if (file) {
        bool whole = false;
        for (const std::string& text : scenario.whole_files) {
          whole = whole || *file == text;
        }
        EXPECT_TRUE(whole) << "left a partial configuration of " << file->size()
                           << " bytes";
      }
      const SimulatedPlatform::Service* service =
          sim.FindService(kTunnelServiceName);
      if (succeeded && scenario.connects) {
        // A connect that reports success has the tunnel up on the new text.
        EXPECT_EQ(file, kConfig);
        ASSERT_NE(service, nullptr);
        EXPECT_EQ(service->state, static_cast<DWORD>(SERVICE_RUNNING));
      }
    }
  }
  std::printf("[ fault points ] %s: %zu calls x %zu errors = %d runs\n",
              scenario.name, points.size(), std::size(kInjectedErrors), runs);
  total_fault_points += runs;
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultInjectionTest,
                         ::testing::Range<size_t>(0, Scenarios().size()));

class FaultCountReporter : public ::testing::Environment {
 public:
  void TearDown() override {
    if (total_fault_points > 0) {
      std::printf("[ fault points ] total: %d runs\n", total_fault_points);
    }
  }
};

const ::testing::Environment* const kReporter =
    ::testing::AddGlobalTestEnvironment(new FaultCountReporter);

}  // namespace
}  // namespace tunnel_control::testing
