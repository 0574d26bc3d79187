#include "p2p/base/port.h"

#include <gtest/gtest.h>

#include <string>

#include "p2p/base/connection.h"
#include "p2p/base/ratetracker.h"
#include "p2p/base/udpport.h"
#include "p2p/rawpeer.h"
#include "p2p/virtualqueue.h"
#include "support/logcapture.h"

namespace vexalo {
namespace {

const Network kLoopbackNetwork{"lo", 0x7F000001};

class PortTest : public ::testing::Test, public SlotHost {
 protected:
  UdpPort* NewPort() {
    auto* port = new UdpPort(&queue_, nullptr, kLoopbackNetwork, SocketAddress(0x7F000001, 0));
    port->Destroyed.Connect(this, [this](Port*) { ++destroyed_; });
    return port;
  }
  VirtualQueue queue_;
  int destroyed_ = 0;
};

TEST_F(PortTest, CandidateCarriesThePortsIdentity) {
  UdpPort* port = NewPort();
  port->SetName("rtp");
  port->SetPreference(1.0f);
  port->SetGeneration(3);
  int ready = 0;
  port->AddressReady.Connect(this, [&](Port*) { ++ready; });
  port->PrepareAddress();
  ASSERT_EQ(port->candidates().size(), 1u);
  const Candidate& c = port->candidates()[0];
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(c.name, "rtp");
  EXPECT_EQ(c.protocol, "udp");
  EXPECT_EQ(c.type, "local");
  EXPECT_EQ(c.address, port->local_address());
  EXPECT_NE(c.address.port(), 0);
  EXPECT_EQ(c.username.size(), 16u);
  EXPECT_EQ(c.password.size(), 16u);
  EXPECT_NE(c.username, c.password);
  EXPECT_EQ(c.network_name, "lo");
  EXPECT_EQ(c.generation, 3u);
  delete port;
}

TEST_F(PortTest, PortWithoutConnectionsDiesThirtySecondsAfterStart) {
  UdpPort* port = NewPort();
  port->Start();
  LogCapture log(kWarning);
  port->Start();
  EXPECT_TRUE(log.Contains("Port restart attempted"));
  queue_.Advance(29999);
  EXPECT_EQ(destroyed_, 0);
  queue_.Advance(1);
  EXPECT_EQ(destroyed_, 1);
  queue_.Advance(60000);
  EXPECT_EQ(destroyed_, 1);
}

TEST_F(PortTest, ExpiredPortLivesUntilItsLastConnectionGoes) {
  UdpPort* port = NewPort();
  RawPeer peer(&queue_);
  Candidate remote;
  remote.protocol = "udp";
  remote.address = peer.address();
  Connection* connection = port->CreateConnection(remote, ORIGIN_MESSAGE);
  port->Start();
  queue_.Advance(30000);
  EXPECT_EQ(destroyed_, 0);
  connection->Prune();  // silent and failed: the connection ends itself
  queue_.RunDue();
  EXPECT_EQ(destroyed_, 1);
}

TEST_F(PortTest, CheckWithExactlyTheFragmentHasAnEmptyRemoteName) {
  UdpPort* port = NewPort();
  std::string remote = "unset";
  port->UnknownAddress.Connect(this, [&](Port*, const SocketAddress&, const StunPacket&,
                                         const std::string& name) { remote = name; });
  RawPeer peer(&queue_);
  StunPacket request;
  request.SetType(STUN_BINDING_REQUEST);
  auto username = StunPacket::CreateBytes(STUN_ATTR_USERNAME);
  username->CopyBytes(port->username_fragment());
  request.Append(std::move(username));
  peer.SendTo(RawPeer::Serialize(request), port->local_address());
  queue_.RunDue();
  EXPECT_EQ(remote, "");
  delete port;
}

TEST_F(PortTest, JunkFromUnknownSendersIsPacedNotAnsweredWithoutEnd) {
  UdpPort* port = NewPort();
  RawPeer peer(&queue_);
  StunPacket bad;
  bad.SetType(STUN_BINDING_REQUEST);
  auto username = StunPacket::CreateBytes(STUN_ATTR_USERNAME);
  username->CopyBytes("nobodyknowsthis!");
  bad.Append(std::move(username));
  const std::string bytes = RawPeer::Serialize(bad);
  for (int i = 0; i < 200; ++i) {
    peer.SendTo(bytes, port->local_address());
    peer.SendTo("junk", port->local_address());
    if (i % 20 == 19) queue_.RunDue();
  }
  queue_.RunDue();
  // Only the burst is answered; the rest is counted.
  EXPECT_EQ(peer.received.size(), static_cast<size_t>(UnknownSenderLimit::kBurst));
  // 400 log lines and 200 answers were asked for.
  EXPECT_EQ(port->unknown_suppressed(), 600u - 2u * UnknownSenderLimit::kBurst);
  StunPacket answer;
  ASSERT_TRUE(peer.LastStun(&answer));
  EXPECT_EQ(answer.type(), STUN_BINDING_ERROR_RESPONSE);
  EXPECT_EQ(answer.FindError()->code(), 400);
  // A second later the port answers again.
  queue_.Advance(1000);
  peer.SendTo(bytes, port->local_address());
  queue_.RunDue();
  EXPECT_EQ(peer.received.size(), static_cast<size_t>(UnknownSenderLimit::kBurst) + 1);
  delete port;
}

TEST(RateTrackerTest, WholeSecondsAndCarriedRemainder) {
  RateTracker rate;
  EXPECT_EQ(rate.Rate(0, 0), 0u);       // starts the window
  EXPECT_EQ(rate.Rate(500, 999), 0u);   // under a second: the last value
  EXPECT_EQ(rate.Rate(1000, 1000), 1000u);
  // 2.5 s with 5000 bytes: 4000 over the two whole seconds, 1000 carried.
  EXPECT_EQ(rate.Rate(6000, 3500), 2000u);
  EXPECT_EQ(rate.Rate(7000, 4000), 2000u);  // (1000 carried + 1000 new) over 1 s
  // Totals beyond 32 bits do not wrap.
  RateTracker big;
  big.Rate(uint64_t{1} << 40, 0);
  EXPECT_EQ(big.Rate((uint64_t{1} << 40) + 3000000000u, 1000), 3000000000u);
}

}  // namespace
}  // namespace vexalo
