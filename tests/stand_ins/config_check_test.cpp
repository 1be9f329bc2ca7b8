// The stand-in tunnel library's configuration check: the service host's and
// the tunnel's Wine tests rely on it accepting a good file and refusing a bad
// one for the right reason.
#include "stand_ins/tunnel/config_check.h"

#include <gtest/gtest.h>

#include <string>

namespace tunnel_stand_in::testing {
namespace {

constexpr char kKeyA[] = "5LR/4/4T0rfXODh+NPRumwwZjnim2NVzvHYH5QVFcoM=";
constexpr char kKeyB[] = "cpUPF1AFW3bSw3wBH/Pfu+14c3zj9vdUQG0A3c6evLo=";

std::string Interface(const std::string& extra = "") {
  return std::string("[Interface]\nPrivateKey = ") + kKeyA +
         "\nAddress = 10.0.0.2/32\n" + extra;
}

std::string Peer(const std::string& extra = "") {
  return std::string("[Peer]\nPublicKey = ") + kKeyB +
         "\nAllowedIPs = 0.0.0.0/0\n" + extra;
}

TEST(ConfigCheckTest, AcceptsEveryKnownKeyWithCommentsAndMixedLineEnds) {
  const std::string text =
      std::string("# a comment line\r\n[interface]\r\n  privatekey=") + kKeyA +
      "  # trailing comment\r\nAddress = 10.0.0.2/32, fd00::2/128\n"
      "Address = 192.168.7.1\nListenPort = 51820\nDNS = 1.1.1.1, ::1, "
      "dns.example\nMTU = 1420\n\n[Peer]\nPublicKey = " +
      kKeyB + "\nPresharedKey = " + kKeyA +
      "\nAllowedIPs = 0.0.0.0/0\nAllowedIPs = ::/0, ::ffff:10.1.2.3/128\n"
      "Endpoint = [2001:db8::1]:51820\nPersistentKeepalive = off\n" +
      Peer("Endpoint = 203.0.113.9:1\nPersistentKeepalive = 25");
  const ConfigCheck check = CheckConfig(text);
  EXPECT_TRUE(check.valid) << check.error;
  EXPECT_EQ(check.peer_count, 2);
  EXPECT_EQ(check.timings.start_delay_ms, 0u);
  EXPECT_FALSE(check.timings.stop_after_ms.has_value());
}

TEST(ConfigCheckTest, ReadsTheStandInTimings) {
  const ConfigCheck check = CheckConfig(
      "[StandIn]\nStartDelayMs = 1500\nStopDelayMs = 0\n"
      "StopAfterMs = 3600000\n" +
      Interface() + Peer());
  ASSERT_TRUE(check.valid) << check.error;
  EXPECT_EQ(check.timings.start_delay_ms, 1500u);
  EXPECT_EQ(check.timings.stop_delay_ms, 0u);
  EXPECT_EQ(check.timings.stop_after_ms, 3600000u);
}

struct Rejection {
  std::string text;
  std::string error;
};

TEST(ConfigCheckTest, RejectsBrokenFilesWithTheReason) {
  const Rejection cases[] = {
      {"", "no [Interface] section"},
      {Interface(), "no [Peer] section"},
      {Interface() + Interface() + Peer(),
       "line 4: second [Interface] section"},
      {Interface() + Peer() + "[Tunnel]\n", "line 7: unknown section [Tunnel]"},
      {Interface("Table = off\n") + Peer(),
       "line 4: unknown key \"Table\" in [Interface]"},
      {Interface() + Peer("StartDelayMs = 5\n"),
       "line 7: unknown key \"StartDelayMs\" in [Peer]"},
      {"Address = 10.0.0.1\n" + Interface() + Peer(),
       "line 1: key outside of a section"},
      {Interface("just words\n") + Peer(), "line 4: expected Key = Value"},
      {Interface("[Peer\n") + Peer(), "line 4: unterminated section header"},
      {Interface("PrivateKey = " + std::string(kKeyB) + "\n") + Peer(),
       "line 4: duplicate key PrivateKey"},
      {Interface("MTU =\n") + Peer(), "line 4: invalid value for MTU"},
      {Interface("MTU = 575\n") + Peer(), "line 4: invalid value for MTU"},
      {Interface("ListenPort = 65536\n") + Peer(),
       "line 4: invalid value for ListenPort"},
      {Interface("ListenPort = -1\n") + Peer(),
       "line 4: invalid value for ListenPort"},
      {"[Interface]\nAddress = 10.0.0.2\n" + Peer(),
       "line 1: [Interface] section without PrivateKey"},
      {Interface() + "[Peer]\nPublicKey = " + kKeyB + "\n",
       "line 4: [Peer] section without AllowedIPs"},
      {Interface() + Peer() + "[Peer]\nAllowedIPs = ::/0\n",
       "line 7: [Peer] section without PublicKey"},
      {Interface() + Peer("Endpoint = vpn.example\n"),
       "line 7: invalid value for Endpoint"},
      {Interface() + Peer("Endpoint = 10.0.0.1:0\n"),
       "line 7: invalid value for Endpoint"},
      {Interface() + Peer("PersistentKeepalive = on\n"),
       "line 7: invalid value for PersistentKeepalive"},
      {Interface() + Peer() + "[StandIn]\nStopAfterMs = 3600001\n",
       "line 8: invalid value for StopAfterMs"},
      {Interface() + Peer() + "[StandIn]\n[StandIn]\n",
       "line 8: second [StandIn] section"},
  };
  for (const Rejection& rejection : cases) {
    SCOPED_TRACE(rejection.text);
    const ConfigCheck check = CheckConfig(rejection.text);
    EXPECT_FALSE(check.valid);
    EXPECT_EQ(check.error, rejection.error);
  }
}

TEST(ConfigCheckTest, RejectsKeysThatAreNotExactly32Bytes) {
  for (const std::string key : {
           "5LR/4/4T0rfXODh+NPRumwwZjnim2NVzvHYH5QVFcoN=",  // stray low bits
           "5LR/4/4T0rfXODh+NPRumwwZjnim2NVzvHYH5QVFco=",   // 31 bytes
           "5LR/4/4T0rfXODh+NPRumwwZjnim2NVzvHYH5QVFcoMA",  // no padding
           "5LR/4/4T0rfXODh+NPRumwwZjnim2NVzvHYH5QVF-oM=",  // URL alphabet
       }) {
    SCOPED_TRACE(key);
    const ConfigCheck check = CheckConfig("[Interface]\nPrivateKey = " + key +
                                          "\nAddress = 10.0.0.2/32\n" + Peer());
    EXPECT_EQ(check.error, "line 2: invalid value for PrivateKey");
  }
}

TEST(ConfigCheckTest, RejectsMalformedAddresses) {
  for (const std::string address :
       {"256.0.0.1/32", "10.0.0.1/33", "10.0.0/24", "010.0.0.1", "10.0.0.1/",
        "::1/129", "1::2::3", "1:2:3:4:5:6:7:8:9", "12345::1", "fe80::1%eth0",
        "10.0.0.1,"}) {
    SCOPED_TRACE(address);
    const ConfigCheck check =
        CheckConfig(Interface() + Peer("AllowedIPs = " + address + "\n"));
    EXPECT_EQ(check.error, "line 7: invalid value for AllowedIPs");
  }
}

}  // namespace
}  // namespace tunnel_stand_in::testing
