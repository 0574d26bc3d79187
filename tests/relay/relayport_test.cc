#include "p2p/base/relayport.h"

#include <gtest/gtest.h>

#include "p2p/base/allocatetransaction.h"
#include "p2p/base/relayentry.h"
#include "relay/relayfixture.h"
#include "support/logcapture.h"

namespace vexalo {
namespace {

class RelayPortTest : public RelayFixture,
                      public ::testing::WithParamInterface<ProtocolType> {};

// Allocation over each transport, then data both ways: framed first, unframed once the relay
// has locked the entry to the peer.
TEST_P(RelayPortTest, AllocatesRelaysBothWaysAndLocks) {
  auto port = MakePort(session_.magic_cookie);
  port->AddServerAddress(Server(GetParam()));
  port->PrepareAddress();
  ASSERT_TRUE(RunUntil([&] { return ready_ == 1; }));
  ASSERT_EQ(server_->allocation_count(), 1u);
  const Candidate& candidate = port->candidates().back();
  EXPECT_EQ(candidate.type, "relay");
  EXPECT_EQ(candidate.protocol, "udp");
  EXPECT_EQ(candidate.address.ip(), kLoopback);
  EXPECT_EQ(candidate.username, session_.username);

  RawPeer peer(&queue_);
  ConnectionTo(port.get(), peer.address());
  // To the peer: a Send Request asking for the lock; the peer gets the bare payload.
  ASSERT_EQ(port->SendTo("hello", 5, peer.address(), true), 5);
  ASSERT_TRUE(RunUntil([&] { return !peer.received.empty(); }));
  EXPECT_EQ(peer.received[0].bytes, "hello");
  EXPECT_EQ(peer.received[0].from, candidate.address);
  RelayEntry* entry = port->entries().front().get();
  ASSERT_TRUE(RunUntil([&] { return entry->locked(); }));

  // Back from the peer, and again out, now unframed on the client's side.
  peer.SendTo("world", candidate.address);
  ASSERT_TRUE(RunUntil([&] { return !delivered_.empty(); }));
  EXPECT_EQ(delivered_[0], "world");
  ASSERT_EQ(port->SendTo("again", 5, peer.address(), true), 5);
  ASSERT_TRUE(RunUntil([&] { return peer.received.size() == 2; }));
  EXPECT_EQ(peer.received[1].bytes, "again");
  EXPECT_EQ(server_->stats().relayed, 2u);
}

INSTANTIATE_TEST_SUITE_P(Transports, RelayPortTest,
                         ::testing::Values(PROTO_UDP, PROTO_TCP, PROTO_SSLTCP),
                         [](const auto& param_info) { return std::string(ProtoToString(param_info.param)); });

// Before the lock, a second peer's packets come in Data Indications and reach its own
// connection; a second destination gets its own entry with its own allocation.
TEST_F(RelayFixture, SecondPeerGetsItsOwnEntry) {
  auto port = MakePort(session_.magic_cookie);
  port->AddServerAddress(Server(PROTO_UDP));
  port->PrepareAddress();
  ASSERT_TRUE(RunUntil([&] { return ready_ == 1; }));
  RawPeer first(&queue_);
  RawPeer second(&queue_);
  ConnectionTo(port.get(), second.address());
  ASSERT_EQ(port->SendTo("a", 1, first.address(), true), 1);
  ASSERT_EQ(port->SendTo("b", 1, second.address(), true), 1);
  ASSERT_TRUE(RunUntil([&] { return port->entries().size() == 2 && server_->allocation_count() == 2; }));
  ASSERT_TRUE(RunUntil([&] { return first.received.size() == 1 && second.received.size() == 1; }));
  // The second went through the first entry while its own was still allocating.
  second.SendTo("from second", port->candidates().back().address);
  ASSERT_TRUE(RunUntil([&] { return !delivered_.empty(); }));
  EXPECT_EQ(delivered_[0], "from second");
}

// A UDP relay that never answers: allocates at 0, 200, 400, 800, 1600 ms, fail-over at
// 3200 ms to the next address, which works.
TEST_F(RelayFixture, SilentServerFailsOverOnSchedule) {
  LogCapture log(kInfo);
  RawPeer silent(&queue_);
  auto port = MakePort(session_.magic_cookie);
  port->AddServerAddress(ProtocolAddress{silent.address(), PROTO_UDP});
  port->AddServerAddress(Server(PROTO_TCP));
  port->PrepareAddress();
  queue_.RunDue();
  EXPECT_EQ(silent.received.size(), 1u);
  queue_.Advance(1600);
  EXPECT_EQ(silent.received.size(), 5u);
  queue_.Advance(1599);
  EXPECT_TRUE(log.Matching("Allocate request timed out").empty());
  queue_.Advance(1);
  EXPECT_EQ(log.Matching("Allocate request timed out").size(), 1u);
  ASSERT_TRUE(RunUntil([&] { return ready_ == 1; }));
  EXPECT_EQ(port->entries().front()->server_index(), 1u);
  EXPECT_EQ(silent.received.size(), 5u);
}

TEST_F(RelayFixture, RefusedTcpAndExhaustedListStopCleanly) {
  LogCapture log(kInfo);
  auto port = MakePort(session_.magic_cookie);
  // Nothing listens there: the connection fails, and the list runs out.
  port->AddServerAddress(ProtocolAddress{SocketAddress(kLoopback, 1), PROTO_TCP});
  port->PrepareAddress();
  ASSERT_TRUE(RunUntil([&] { return !log.Matching("Out of relay server connections").empty(); }));
  queue_.Advance(10000);
  EXPECT_EQ(ready_, 0);
  EXPECT_EQ(port->SendTo("x", 1, SocketAddress(kLoopback, 9), true), -1);
  EXPECT_EQ(port->GetError(), 10035);
}

TEST_F(RelayFixture, WrongCookieIsRefusedAndRetriedOnlyAfterTenMinutes) {
  LogCapture log(kInfo);
  auto port = MakePort("XXXXXXXXXXXXXXXX");
  port->AddServerAddress(Server(PROTO_UDP));
  port->PrepareAddress();
  ASSERT_TRUE(RunUntil([&] { return !log.Matching("Allocate error response:").empty(); }));
  EXPECT_EQ(ready_, 0);
  EXPECT_EQ(server_->allocation_count(), 0u);
}

// The allocation is refreshed every 10 minutes and so outlives the server's idle limit;
// once the port is gone the server frees it.
TEST_F(RelayFixture, RefreshKeepsTheAllocationAndIdleOnesExpire) {
  auto port = MakePort(session_.magic_cookie);
  port->AddServerAddress(Server(PROTO_UDP));
  port->PrepareAddress();
  ASSERT_TRUE(RunUntil([&] { return ready_ == 1; }));
  const SocketAddress relayed = port->candidates().back().address;
  for (int i = 0; i < 3; ++i) {
    queue_.Advance(AllocateTransaction::kRefreshMs);
    ASSERT_TRUE(RunUntil([&] { return server_->stats().packets_in >= 2u + i; }));
  }
  EXPECT_EQ(server_->allocation_count(), 1u);
  EXPECT_EQ(port->candidates().back().address, relayed);
  port.reset();
  queue_.Advance(limits_.idle_timeout_ms + RelayServer::kSweepIntervalMs);
  EXPECT_EQ(server_->allocation_count(), 0u);
}

TEST_F(RelayFixture, SslTcpGoesFirstBehindAnHttpsProxy) {
  auto port = MakePort(session_.magic_cookie);
  ProxySettings proxy;
  proxy.type = PROXY_HTTPS;
  port->SetProxy("test", proxy);
  port->AddServerAddress(Server(PROTO_UDP));
  port->AddServerAddress(Server(PROTO_TCP));
  port->AddServerAddress(Server(PROTO_SSLTCP));
  ASSERT_EQ(port->server_addresses().size(), 3u);
  EXPECT_EQ(port->server_addresses()[0].proto, PROTO_SSLTCP);
  EXPECT_EQ(port->server_addresses()[1].proto, PROTO_UDP);
}

TEST_F(RelayFixture, RedundantExternalAddressIsAddedOnce) {
  auto port = MakePort("");
  EXPECT_EQ(port->magic_cookie(), std::string("\x72\xC6\x4B\xC6", 4));
  port->AddExternalAddress(Server(PROTO_TCP));
  port->AddExternalAddress(Server(PROTO_TCP));
  port->AddExternalAddress(Server(PROTO_UDP));
  EXPECT_EQ(port->candidates().size(), 2u);
  EXPECT_EQ(ready_, 0);
}

}  // namespace
}  // namespace vexalo
