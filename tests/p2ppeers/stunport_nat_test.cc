// A STUN port behind a NAT made of network namespaces (tests/scripts/p2p-nat.sh), asking
// coturn placed outside. Skipped unless run by that script.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "p2p/base/stunport.h"
#include "p2ppeers/runloop.h"

namespace vexalo {
namespace {

std::string Env(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

class NatStunTest : public ::testing::Test, public SlotHost {};

TEST_F(NatStunTest, LearnsTheGatewaysOutsideAddress) {
  const std::string kind = Env("VEXALO_NAT_KIND");
  if (kind.empty()) GTEST_SKIP() << "not behind the test NAT (run through p2p-nat.sh)";
  SocketAddress server;
  SocketAddress local;
  SocketAddress external;
  ASSERT_TRUE(SocketAddress::FromString(Env("VEXALO_NAT_STUN"), &server));
  ASSERT_TRUE(SocketAddress::FromString(Env("VEXALO_NAT_LOCAL"), &local));
  ASSERT_TRUE(SocketAddress::FromString(Env("VEXALO_NAT_EXTERNAL"), &external));

  EventQueue queue;
  StunPort port(&queue, nullptr, Network{"veth", local.ip()}, local, server);
  int ready = 0;
  port.AddressReady.Connect(this, [&](Port*) { ++ready; });
  port.PrepareAddress();
  // Under loss the retransmissions (and the retries after a time-out) must get through.
  ASSERT_TRUE(RunUntil(&queue, [&] { return ready == 1; }, 30000)) << kind;
  const SocketAddress mapped = port.candidates().at(0).address;
  EXPECT_EQ(mapped.ip(), external.ip()) << kind << ": " << mapped.ToString();
  EXPECT_NE(port.local_address().ip(), mapped.ip());
  if (kind != "symmetric") {
    // These NATs keep the inside port when it is free.
    EXPECT_EQ(mapped.port(), port.local_address().port()) << kind;
  }
}

}  // namespace
}  // namespace vexalo
