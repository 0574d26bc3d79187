// TCP ports reaching each other through real proxies (squid's CONNECT, dante's SOCKS5) and
// through our "ssltcp" far end, all started by the tests on 127.0.0.1.
#include <gtest/gtest.h>

#include <string>

#include "p2p/tcppair.h"
#include "p2ppeers/runloop.h"
#include "support/peers/proxypeers.h"

namespace vexalo {

namespace {

const SocketAddress kLoopbackAny(0x7F000001, 0);

class TcpPortProxyTest : public ::testing::Test {
 protected:
  TcpPair::RunUntil Runner() {
    return [this](const std::function<bool()>& done) { return RunUntil(&queue_, done, 2000); };
  }

  // Checks both ways and carries a packet, with the dialer's streams through `proxy`.
  void CheckThrough(const ProxySettings& proxy) {
    TcpPair pair(&queue_, Runner(), kLoopbackAny);
    pair.dialer()->SetProxy("vexalo-test", proxy);
    std::string failure;
    ASSERT_TRUE(pair.ConnectAndCheck("tcp", pair.listener()->local_address(), &failure))
        << failure;
    EXPECT_EQ(pair.Carry("through the proxy"), "through the proxy");
    EXPECT_GT(pair.dialed()->rtt_samples(), 0);
  }

  EventQueue queue_;
};

TEST_F(TcpPortProxyTest, ThroughSquidConnect) {
  SquidPeer squid("basic");
  if (!squid.started()) GTEST_SKIP() << "squid did not start: " << squid.error();
  const ProxySettings proxy = squid.Settings();
  CheckThrough(proxy);
}

TEST_F(TcpPortProxyTest, ThroughDanteSocks5) {
  DantePeer dante(false);
  if (!dante.started()) GTEST_SKIP() << "dante did not start: " << dante.error();
  const ProxySettings proxy = dante.Settings();
  CheckThrough(proxy);
}

TEST_F(TcpPortProxyTest, SslTcpCandidateThroughTheFarEnd) {
  TcpPair pair(&queue_, Runner(), kLoopbackAny);
  pair.listener()->PrepareAddress();
  // The far end unwraps the framing and passes the stream on to the listening port.
  const uint16_t relay_port = FreeLoopbackPort();
  TempDir dir;
  PeerProcess relay;
  std::string error;
  ASSERT_TRUE(relay.Start({"python3", std::string(VEXALO_SOURCE_DIR) + "/tests/servers/ssltcprelay.py",
                           std::to_string(relay_port), "127.0.0.1",
                           std::to_string(pair.listener()->local_address().port())},
                          relay_port, dir.path() + "/relay.log", &error))
      << error;
  std::string failure;
  ASSERT_TRUE(pair.ConnectAndCheck("ssltcp", SocketAddress(0x7F000001, relay_port), &failure))
      << failure;
  EXPECT_EQ(pair.Carry("framed as ssl"), "framed as ssl");
}

}  // namespace
}  // namespace vexalo
