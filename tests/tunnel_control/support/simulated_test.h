// The fixture of a test on a fresh simulated machine: the simulation is
// installed for the test and must find everything released at its end.
#ifndef TESTS_TUNNEL_CONTROL_SUPPORT_SIMULATED_TEST_H_
#define TESTS_TUNNEL_CONTROL_SUPPORT_SIMULATED_TEST_H_

#include <gtest/gtest.h>

#include "tests/tunnel_control/support/simulated_platform.h"

namespace tunnel_control::testing {

class SimulatedTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(sim_.AllReleased()) << sim_.LeakReport();
  }
  SimulatedPlatform sim_;
};

}  // namespace tunnel_control::testing

#endif  // TESTS_TUNNEL_CONTROL_SUPPORT_SIMULATED_TEST_H_
