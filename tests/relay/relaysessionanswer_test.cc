#include "p2p/client/relaysessionanswer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexalo {
namespace {

const SocketAddress kStun(0x7F000001, 3478);

TEST(RelaySessionAnswerTest, ReadsTrimsAndChecksEveryValue) {
  const struct {
    const char* body;
    const char* username;
    std::vector<uint16_t> ports;  // of the one relay entry, in udp, tcp, ssltcp order
  } cases[] = {
      {"username = alice \r\nrelay.ip=10.0.0.1\nrelay.udp_port=\r\n", "alice", {}},
      {"relay.ip=10.0.0.1\nrelay.udp_port=5001\nrelay.tcp_port=5002\nrelay.ssltcp_port=443",
       "", {5001, 5002, 443}},
      // Leading digits only; 0 and numbers past 65535 are no ports.
      {"relay.ip=10.0.0.1\nrelay.udp_port=5001abc\nrelay.tcp_port=0\nrelay.ssltcp_port=70000",
       "", {5001}},
      // A later line wins; lines without "=" or with an empty key are skipped.
      {"username=a\nusername=b\n=c\nnonsense\nrelay.ip=10.0.0.1\nrelay.tcp_port=1", "b", {1}},
      // No usable relay address: the entry has no addresses.
      {"relay.ip=relay.example.net\nrelay.udp_port=5001", "", {}},
      {"relay.ip=10.0.0.1.5\nrelay.udp_port=5001", "", {}},
      {"relay.udp_port=5001", "", {}},
  };
  for (const auto& c : cases) {
    PortConfiguration config;
    ASSERT_TRUE(RelaySessionAnswer::Parse(c.body, kStun, &config)) << c.body;
    EXPECT_EQ(config.username, c.username) << c.body;
    EXPECT_EQ(config.stun_address, kStun);
    ASSERT_EQ(config.relays.size(), 1u);
    std::vector<uint16_t> ports;
    for (const ProtocolAddress& a : config.relays[0].addresses) ports.push_back(a.address.port());
    EXPECT_EQ(ports, c.ports) << c.body;
  }
}

TEST(RelaySessionAnswerTest, OversizedAnswersAreRefused) {
  PortConfiguration config;
  config.username = "untouched";
  EXPECT_FALSE(RelaySessionAnswer::Parse(std::string(RelaySessionAnswer::kMaxBodyBytes + 1, 'a'),
                                         kStun, &config));
  EXPECT_FALSE(RelaySessionAnswer::Parse(
      "password=" + std::string(RelaySessionAnswer::kMaxCredentialBytes + 1, 'p'), kStun,
      &config));
  EXPECT_EQ(config.username, "untouched");
  // An overlong line is skipped, the rest still read.
  ASSERT_TRUE(RelaySessionAnswer::Parse(
      "username=" + std::string(RelaySessionAnswer::kMaxLineBytes, 'u') + "\npassword=pw",
      kStun, &config));
  EXPECT_EQ(config.username, "");
  EXPECT_EQ(config.password, "pw");
}

}  // namespace
}  // namespace vexalo
