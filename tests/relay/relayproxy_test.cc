// Relay entries over TCP and SSL-TCP through real proxies (squid's CONNECT with Basic
// authentication, dante's SOCKS5), started on 127.0.0.1.
#include <gtest/gtest.h>

#include "p2p/base/relayentry.h"
#include "relay/relayfixture.h"
#include "support/peers/proxypeers.h"

namespace vexalo {
namespace {

class RelayProxyTest : public RelayFixture {
 protected:
  // Allocates through `proxy` over `proto` and carries a packet each way.
  void CarryThrough(const ProxySettings& proxy, ProtocolType proto) {
    auto port = MakePort(session_.magic_cookie);
    port->SetProxy("vexalo-test", proxy);
    port->AddServerAddress(Server(proto));
    port->PrepareAddress();
    ASSERT_TRUE(RunUntil([&] { return ready_ == 1; })) << ProtoToString(proto);
    RawPeer peer(&queue_);
    ConnectionTo(port.get(), peer.address());
    ASSERT_EQ(port->SendTo("out", 3, peer.address(), true), 3);
    ASSERT_TRUE(RunUntil([&] { return !peer.received.empty(); }));
    EXPECT_EQ(peer.received[0].bytes, "out");
    peer.SendTo("back", port->candidates().back().address);
    ASSERT_TRUE(RunUntil([&] { return !delivered_.empty(); }));
    EXPECT_EQ(delivered_[0], "back");
  }
};

TEST_F(RelayProxyTest, TcpAndSslTcpThroughSquid) {
  SquidPeer squid("basic");
  if (!squid.started()) GTEST_SKIP() << "squid did not start: " << squid.error();
  const ProxySettings proxy = squid.Settings();
  CarryThrough(proxy, PROTO_TCP);
  delivered_.clear();
  ready_ = 0;
  CarryThrough(proxy, PROTO_SSLTCP);
}

TEST_F(RelayProxyTest, TcpThroughDante) {
  DantePeer dante(false);
  if (!dante.started()) GTEST_SKIP() << "dante did not start: " << dante.error();
  const ProxySettings proxy = dante.Settings();
  CarryThrough(proxy, PROTO_TCP);
}

}  // namespace
}  // namespace vexalo
