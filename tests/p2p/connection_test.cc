#include "p2p/base/connection.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/net/socketerrors.h"
#include "p2p/base/udpport.h"
#include "p2p/rawpeer.h"
#include "p2p/virtualqueue.h"
#include "support/logcapture.h"

namespace vexalo {
namespace {

const SocketAddress kLoopbackAny(0x7F000001, 0);
const Network kLoopbackNetwork{"lo", 0x7F000001};

Candidate CandidateOf(Port* port) {
  port->PrepareAddress();
  return port->candidates().at(0);
}

// Two UDP ports on real loopback sockets, on a clock the test moves.
class ConnectionTest : public ::testing::Test, public SlotHost {
 protected:
  void SetUp() override {
    a_ = new UdpPort(&queue_, nullptr, kLoopbackNetwork, kLoopbackAny);
    b_ = new UdpPort(&queue_, nullptr, kLoopbackNetwork, kLoopbackAny);
    b_->UnknownAddress.Connect(
        this, [this](Port*, const SocketAddress& from, const StunPacket&, const std::string& name) {
          unknown_.push_back({from, name});
        });
  }
  void TearDown() override {
    delete a_;
    delete b_;
  }

  // Connections both ways.
  void Connect() {
    ab_ = a_->CreateConnection(CandidateOf(b_), ORIGIN_MESSAGE);
    ba_ = b_->CreateConnection(CandidateOf(a_), ORIGIN_MESSAGE);
    ASSERT_NE(ab_, nullptr);
    ASSERT_NE(ba_, nullptr);
  }
  void PingBothWays() {
    ab_->Ping(queue_.Now());
    ba_->Ping(queue_.Now());
    queue_.RunDue();
    queue_.RunDue();
  }

  VirtualQueue queue_;
  UdpPort* a_;
  UdpPort* b_;
  Connection* ab_ = nullptr;
  Connection* ba_ = nullptr;
  std::vector<std::pair<SocketAddress, std::string>> unknown_;
};

TEST_F(ConnectionTest, ChecksBothWaysMakeThePairReadableAndWritable) {
  Connect();
  EXPECT_EQ(ab_->read_state(), Connection::STATE_READ_SILENT);
  EXPECT_EQ(ab_->write_state(), Connection::STATE_WRITE_UNCONFIRMED);
  PingBothWays();
  for (Connection* c : {ab_, ba_}) {
    EXPECT_EQ(c->read_state(), Connection::STATE_READ_LIVE);
    EXPECT_EQ(c->write_state(), Connection::STATE_WRITE_CONFIRMED);
    EXPECT_EQ(c->rtt_samples(), 1);
    EXPECT_TRUE(c->pings_since_last_response().empty());
  }
}

TEST_F(ConnectionTest, DataFlowsOnlyOnceWritableAndIsCounted) {
  Connect();
  std::string got;
  ba_->PacketReceived.Connect(this, [&](Connection*, const char* data, size_t size) {
    got.append(data, size);
  });
  EXPECT_EQ(ab_->Send("early", 5), -1);
  EXPECT_EQ(ab_->GetError(), kSocketWouldBlock);
  PingBothWays();
  EXPECT_EQ(ab_->received_rate(), 0u);  // the first reading starts the window
  ab_->received_rate();
  ab_->sent_rate();
  ba_->received_rate();
  for (int i = 0; i < 10; ++i) ASSERT_EQ(ab_->Send("0123456789", 10), 10);
  queue_.RunDue();
  EXPECT_EQ(got.size(), 100u);
  EXPECT_EQ(ab_->bytes_sent(), 100u);
  EXPECT_EQ(ba_->bytes_received(), 100u);
  queue_.Advance(1000);
  EXPECT_EQ(ab_->sent_rate(), 100u);
  EXPECT_EQ(ba_->received_rate(), 100u);
}

TEST_F(ConnectionTest, CheckFromAnUnknownAddressIsReportedWithTheSendersName) {
  ab_ = a_->CreateConnection(CandidateOf(b_), ORIGIN_MESSAGE);
  ab_->Ping(queue_.Now());
  queue_.RunDue();
  ASSERT_EQ(unknown_.size(), 1u);
  EXPECT_EQ(unknown_[0].first, a_->local_address());
  EXPECT_EQ(unknown_[0].second, a_->username_fragment());
}

TEST_F(ConnectionTest, CheckWithAWrongNameIsRefusedAndTheCheckerFails) {
  Candidate b = CandidateOf(b_);
  b.username = "someone-else";  // B's fragment is not at the start of the name
  ab_ = a_->CreateConnection(b, ORIGIN_MESSAGE);
  ba_ = b_->CreateConnection(CandidateOf(a_), ORIGIN_MESSAGE);
  bool connected = true;
  Connection::WriteState state = Connection::STATE_WRITE_UNCONFIRMED;
  bool destroyed = false;
  ab_->StateChanged.Connect(this, [&](Connection* c) {
    connected = c->connected();
    state = c->write_state();
  });
  ab_->Destroyed.Connect(this, [&](Connection*) { destroyed = true; });
  LogCapture log(kError);
  ab_->Ping(queue_.Now());
  queue_.RunDue();
  queue_.RunDue();
  EXPECT_TRUE(log.Contains("Received STUN request with bad username")) << log.text();
  EXPECT_TRUE(log.Contains("class=1 number=144 reason='BAD REQUEST'")) << log.text();
  EXPECT_FALSE(connected);
  EXPECT_EQ(state, Connection::STATE_WRITE_FAILED);
  // Never read from, and now failed: the connection ends itself.
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(a_->GetConnection(b.address), nullptr);
}

TEST_F(ConnectionTest, WritableConnectionLosesItsPeer) {
  Connect();
  PingBothWays();
  const Tick first_lost = queue_.Now();
  delete b_;  // pings now go unanswered
  b_ = nullptr;
  ba_ = nullptr;
  for (int i = 0; i < 5; ++i) {
    ab_->Ping(queue_.Now());
    queue_.Advance(50);
  }
  // Five unanswered, the fifth-oldest 50 ms ago (under 2 x rtt clamped to 100 ms).
  ab_->UpdateState(queue_.Now());
  EXPECT_EQ(ab_->write_state(), Connection::STATE_WRITE_CONFIRMED);
  queue_.Advance(5000);
  ab_->UpdateState(queue_.Now());
  EXPECT_EQ(ab_->write_state(), Connection::STATE_WRITE_UNCONFIRMED);
  queue_.Advance(first_lost + 15000 - queue_.Now());
  ab_->UpdateState(queue_.Now());
  EXPECT_EQ(ab_->write_state(), Connection::STATE_WRITE_UNCONFIRMED);
  queue_.Advance(1);
  ab_->UpdateState(queue_.Now());
  EXPECT_EQ(ab_->write_state(), Connection::STATE_WRITE_FAILED);
  // Readable still, so it lives on until the peer has been silent for 30 s.
  EXPECT_EQ(ab_->read_state(), Connection::STATE_READ_LIVE);
  bool destroyed = false;
  ab_->Destroyed.Connect(this, [&](Connection*) { destroyed = true; });
  queue_.Advance(30000);
  ab_->UpdateState(queue_.Now());
  queue_.RunDue();
  EXPECT_TRUE(destroyed);
  EXPECT_TRUE(a_->connections().empty());
}

TEST_F(ConnectionTest, FailedConnectionComesBackOnAPingUnlessPruned) {
  Connect();
  PingBothWays();
  ab_->SetConnected(false);
  ASSERT_EQ(ab_->write_state(), Connection::STATE_WRITE_FAILED);
  ba_->Ping(queue_.Now());
  queue_.RunDue();
  EXPECT_EQ(ab_->write_state(), Connection::STATE_WRITE_UNCONFIRMED);

  ab_->Prune();
  ASSERT_EQ(ab_->write_state(), Connection::STATE_WRITE_FAILED);
  ba_->Ping(queue_.Now());
  queue_.RunDue();
  EXPECT_EQ(ab_->write_state(), Connection::STATE_WRITE_FAILED);
}

TEST_F(ConnectionTest, MediaFromASilentConnectionIsDropped) {
  Connect();
  PingBothWays();
  int delivered = 0;
  ba_->PacketReceived.Connect(this, [&](Connection*, const char*, size_t) { ++delivered; });
  queue_.Advance(30000);
  ba_->UpdateState(queue_.Now());
  ASSERT_EQ(ba_->read_state(), Connection::STATE_READ_SILENT);
  LogCapture log(kWarning);
  ab_->Send("media", 5);
  queue_.RunDue();
  EXPECT_EQ(delivered, 0);
  EXPECT_TRUE(log.Contains("Received non-STUN packet from an unreadable connection."));
}

TEST_F(ConnectionTest, TcpCandidateGetsNoConnectionOnAUdpPort) {
  Candidate remote = CandidateOf(b_);
  remote.protocol = "tcp";
  EXPECT_EQ(a_->CreateConnection(remote, ORIGIN_MESSAGE), nullptr);
}

// A peer played by hand, to answer checks with chosen error responses.
class ConnectionErrorTest : public ::testing::TestWithParam<std::pair<int, bool>> {};

TEST_P(ConnectionErrorTest, ErrorResponseCodes) {
  const auto [code, stays_connected] = GetParam();
  VirtualQueue queue;
  UdpPort port(&queue, nullptr, kLoopbackNetwork, kLoopbackAny);
  port.PrepareAddress();
  RawPeer peer(&queue);
  Candidate remote;
  remote.protocol = "udp";
  remote.address = peer.address();
  remote.username = "peerfragment0000";
  Connection* connection = port.CreateConnection(remote, ORIGIN_MESSAGE);
  connection->ReceivedPing();  // readable, so that failing does not end it
  connection->Ping(queue.Now());
  queue.RunDue();
  StunPacket ping;
  ASSERT_TRUE(peer.LastStun(&ping));
  EXPECT_EQ(ping.FindBytes(STUN_ATTR_USERNAME)->bytes(),
            "peerfragment0000" + port.username_fragment());

  StunPacket answer;
  answer.SetType(STUN_BINDING_ERROR_RESPONSE);
  answer.SetTransactionId(ping.transaction_id());
  auto username = StunPacket::CreateBytes(STUN_ATTR_USERNAME);
  username->CopyBytes(ping.FindBytes(STUN_ATTR_USERNAME)->bytes());
  answer.Append(std::move(username));
  if (code != 0) {
    auto error = StunPacket::CreateError();
    error->SetCode(code);
    answer.Append(std::move(error));
  }
  peer.SendTo(RawPeer::Serialize(answer), port.local_address());
  queue.RunDue();
  EXPECT_EQ(connection->connected(), stays_connected) << code;
}

INSTANTIATE_TEST_SUITE_P(Codes, ConnectionErrorTest,
                         ::testing::Values(std::pair{401, true}, std::pair{420, true},
                                           std::pair{430, true}, std::pair{500, true},
                                           std::pair{400, false}, std::pair{600, false},
                                           // no ERROR-CODE: dropped by the port, not an answer
                                           std::pair{0, true}));

}  // namespace
}  // namespace vexalo
