// The paths every process of the tunnel computes: the executable's, the data
// directory's and the configuration file's.
#include "app/tunnel_control/common/tunnel_paths.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/tunnel_control/support/simulated_test.h"

namespace tunnel_control::testing {
namespace {

using TunnelPathsTest = testing::SimulatedTest;

TEST_F(TunnelPathsTest, PathsFollowTheProgramDataFolder) {
  EXPECT_EQ(DataDirectoryPath(), kDataDirectory);
  EXPECT_EQ(ConfigFilePath(), kConfigPath);
  sim_.SetProgramData(L"D:\\Shared Data");
  EXPECT_EQ(DataDirectoryPath(), L"D:\\Shared Data\\VarnVPN");
  // The current folder, not its default: an administrator may have moved it.
  EXPECT_EQ(ConfigFilePath(), L"D:\\Shared Data\\VarnVPN\\VarnVPN.conf");
}

TEST_F(TunnelPathsTest, PathsAreEmptyWhenTheKnownFolderFails) {
  sim_.FailAlways("SHGetKnownFolderPath", ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DataDirectoryPath(), L"");
  EXPECT_EQ(ConfigFilePath(), L"");
}

TEST_F(TunnelPathsTest, ExecutablePathStopsShortOf260Characters) {
  const std::wstring fits = L"C:\\" + std::wstring(252, L'a') + L".exe";
  ASSERT_EQ(fits.size(), 259u);
  sim_.SetModulePath(fits);
  EXPECT_EQ(ExecutablePath(), fits);
  sim_.SetModulePath(fits + L"x");
  EXPECT_EQ(ExecutablePath(), L"");
  sim_.SetModulePath(fits + std::wstring(100, L'x'));
  EXPECT_EQ(ExecutablePath(), L"");
  sim_.FailOnce("GetModuleFileNameW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(ExecutablePath(), L"");
}

}  // namespace
}  // namespace tunnel_control::testing
