#include "p2p/client/p2psocket.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/net/rulefilteringhub.h"
#include "base/net/socketerrors.h"
#include "p2p/base/udpport.h"
#include "p2p/virtualqueue.h"
#include "support/logcapture.h"
#include "support/lossysockethub.h"
#include "support/loopbackallocator.h"

namespace vexalo {
namespace {

// Two P2P sockets on real loopback ports, on a clock the test moves. Signalling is the test:
// requests are granted at once and candidates handed straight to the other side. Side B's
// ports sit behind a filtering hub so that a path can be cut.
class P2PSocketTest : public ::testing::Test, public SlotHost {
 protected:
  void SetUp() override {
    hub_b_ = std::make_unique<RuleFilteringHub>(queue_.hub(), false);
    Build(nullptr, hub_b_.get());
  }
  // The sockets, with A's and B's ports made by the given hubs (none: the queue's own).
  void Build(SocketHub* hub_a, SocketHub* hub_b) {
    alloc_a_ = std::make_unique<LoopbackAllocator>(&queue_, hub_a);
    alloc_b_ = std::make_unique<LoopbackAllocator>(&queue_, hub_b);
    a_ = std::make_unique<P2PSocket>("rtp", alloc_a_.get(), &queue_);
    b_ = std::make_unique<P2PSocket>("rtp", alloc_b_.get(), &queue_);
    for (P2PSocket* s : {a_.get(), b_.get()}) {
      s->RequestSignaling.Connect(this, [this](P2PSocket* socket) {
        ++signaling_requests_;
        if (grant_signaling_) socket->OnSignalingReady();
      });
      s->PacketReceived.Connect(this, [this](P2PSocket* socket, const char* data, size_t size) {
        received_[socket == a_.get() ? 0 : 1].append(data, size);
      });
      s->BestConnectionChanged.Connect(this,
                                       [this](P2PSocket*, const SocketAddress&) { ++switches_; });
    }
  }
  void Exchange() {
    a_->CandidatesReady.Connect(this, [this](P2PSocket*, const std::vector<Candidate>& c) {
      b_->OnRemoteCandidates(c);
    });
    b_->CandidatesReady.Connect(this, [this](P2PSocket*, const std::vector<Candidate>& c) {
      a_->OnRemoteCandidates(c);
    });
  }
  void TearDown() override {
    a_.reset();
    b_.reset();
  }
  // Virtual time until both are writable, -1 when they never become so within `limit_ms`.
  int64_t TimeToWritable(int limit_ms = 5000) {
    const Tick start = queue_.Now();
    for (int t = 0; t < limit_ms; t += 10) {
      if (a_->IsWritable() && b_->IsWritable()) return queue_.Now() - start;
      queue_.Advance(10);
    }
    return -1;
  }
  static Connection* OfProtocol(P2PSocket* s, const std::string& protocol) {
    for (Connection* c : s->connections()) {
      if (c->remote_candidate().protocol == protocol) return c;
    }
    return nullptr;
  }

  VirtualQueue queue_;
  std::unique_ptr<RuleFilteringHub> hub_b_;
  std::unique_ptr<LoopbackAllocator> alloc_a_;
  std::unique_ptr<LoopbackAllocator> alloc_b_;
  std::unique_ptr<P2PSocket> a_;
  std::unique_ptr<P2PSocket> b_;
  bool grant_signaling_ = true;
  int signaling_requests_ = 0;
  int switches_ = 0;
  std::string received_[2];
};

TEST_F(P2PSocketTest, ExchangeCandidatesBecomeWritableAndPassPacketsBothWays) {
  Exchange();
  EXPECT_EQ(a_->Send("early", 5), -1);
  EXPECT_EQ(a_->GetError(), kSocketWouldBlock);
  LogCapture log(kInfo);
  a_->Connect();
  b_->Connect();
  const int64_t ms = TimeToWritable();
  ASSERT_GE(ms, 0);
  EXPECT_LT(ms, 500);
  EXPECT_EQ(a_->state(), P2PSocket::STATE_WRITABLE);
  // UDP (preference 1) wins over TCP (0.5); the TCP pair on the same network is pruned and,
  // never having been read from, ends itself.
  EXPECT_EQ(a_->best_connection()->remote_candidate().protocol, "udp");
  EXPECT_EQ(a_->ports().size(), 2u);
  queue_.Advance(100);
  EXPECT_TRUE(log.Contains("tcp connected to")) << log.text();
  EXPECT_EQ(OfProtocol(a_.get(), "tcp"), nullptr);
  EXPECT_EQ(a_->connections().size(), 1u);
  // Writable: the other ports are no longer gathered, and no new session is asked for.
  EXPECT_EQ(alloc_a_->sessions_created(), 1);
  queue_.Advance(P2PSocket::kNewSessionMs + 1000);
  EXPECT_EQ(alloc_a_->sessions_created(), 1);

  ASSERT_EQ(a_->Send("to b", 4), 4);
  ASSERT_EQ(b_->Send("to a", 4), 4);
  queue_.RunDue();
  EXPECT_EQ(received_[1], "to b");
  EXPECT_EQ(received_[0], "to a");
}

TEST_F(P2PSocketTest, PingsEvery48MsWhileConnectingAndEvery480MsOnceWritable) {
  // A peer port that never answers: every check lands on it as from an unknown address.
  UdpPort silent(&queue_, nullptr, Network{"lo", 0x7F000001}, SocketAddress(0x7F000001, 0));
  silent.PrepareAddress();
  int checks = 0;
  silent.UnknownAddress.Connect(this, [&](Port*, const SocketAddress&, const StunPacket&,
                                          const std::string&) { ++checks; });
  a_->Connect();
  a_->OnRemoteCandidates(silent.candidates());
  queue_.Advance(1);
  checks = 0;
  queue_.Advance(48 * 20);
  EXPECT_EQ(checks, 20);

  Exchange();
  b_->Connect();
  // B's candidates reach A only from now on: give A's own.
  b_->OnRemoteCandidates(alloc_a_->ports().front()->candidates());
  ASSERT_GE(TimeToWritable(), 0);
  queue_.Advance(2000);
  // Writable: one check per 480 ms tick, to the best connection or the longest unchecked one.
  const size_t connections = a_->connections().size();
  std::vector<Tick> before;
  for (Connection* c : a_->connections()) before.push_back(c->last_ping_sent());
  queue_.Advance(480 * 10);
  int pinged = 0;
  for (size_t i = 0; i < connections; ++i) {
    if (a_->connections()[i]->last_ping_sent() != before[i]) ++pinged;
  }
  EXPECT_GE(pinged, 1);
  EXPECT_EQ(a_->state(), P2PSocket::STATE_WRITABLE);
}

TEST_F(P2PSocketTest, NewerGenerationReplacesOlderCandidatesAndDuplicatesOnlyLog) {
  a_->Connect();
  Candidate c;
  c.name = "rtp";
  c.protocol = "udp";
  c.address = SocketAddress(0x0A000001, 5000);
  c.username = "gen1";
  c.preference = 1;
  c.generation = 1;
  Candidate d = c;
  d.address.SetPort(5001);
  LogCapture log(kInfo);
  a_->OnRemoteCandidates({c, d});
  EXPECT_EQ(a_->remote_candidate_count(), 2u);
  a_->OnRemoteCandidates({c});
  EXPECT_TRUE(log.Contains("Duplicate candidate: 10.0.0.1:5000")) << log.text();
  EXPECT_EQ(a_->remote_candidate_count(), 2u);
  Candidate e = c;
  e.generation = 2;
  e.username = "gen2";
  a_->OnRemoteCandidates({e});
  EXPECT_TRUE(log.Contains("Pruning candidate from old generation: 10.0.0.1:5000"));
  EXPECT_TRUE(log.Contains("Pruning candidate from old generation: 10.0.0.1:5001"));
  EXPECT_EQ(a_->remote_candidate_count(), 1u);
}

TEST_F(P2PSocketTest, RemoteCandidatesAreBounded) {
  a_->Connect();
  std::vector<Candidate> flood;
  for (uint32_t i = 0; i < 4 * P2PSocket::kMaxRemoteCandidates; ++i) {
    Candidate c;
    c.name = "rtp";
    c.protocol = "udp";
    c.address = SocketAddress(0x0A000000 + i, 5000);
    c.username = "u";
    flood.push_back(c);
  }
  LogCapture log(kWarning);
  a_->OnRemoteCandidates(flood);
  EXPECT_EQ(a_->remote_candidate_count(), P2PSocket::kMaxRemoteCandidates);
  EXPECT_LE(a_->connections().size(), P2PSocket::kMaxConnections);
}

TEST_F(P2PSocketTest, CheckWithUnknownUsernameGets430AndNoConnection) {
  a_->Connect();
  queue_.RunDue();
  Port* port_a = alloc_a_->ports().front();
  UdpPort stranger(&queue_, nullptr, Network{"lo", 0x7F000001}, SocketAddress(0x7F000001, 0));
  stranger.PrepareAddress();
  Connection* probe = stranger.CreateConnection(port_a->candidates().front(), ORIGIN_MESSAGE);
  ASSERT_NE(probe, nullptr);
  LogCapture log(kInfo);
  probe->Ping(queue_.Now());
  queue_.RunDue();
  queue_.RunDue();
  EXPECT_TRUE(log.Contains("STALE CREDENTIALS")) << log.text();
  EXPECT_TRUE(a_->connections().empty());
}

TEST_F(P2PSocketTest, SetOptionReachesPortsOnceAndLaterPortsToo) {
  a_->Connect();
  EXPECT_EQ(a_->SetOption(OPT_DONT_FRAGMENT, 1), 0);
  EXPECT_EQ(a_->SetOption(OPT_DONT_FRAGMENT, 1), 0);
  EXPECT_EQ(a_->ports().size(), 1u);
}

// The cut falls at different points of the 480 ms check schedule.
class P2PSocketFailOverTest : public P2PSocketTest, public ::testing::WithParamInterface<int> {};

TEST_P(P2PSocketFailOverTest, CutPathFailsOverWithinTwoSeconds) {
  Exchange();
  a_->Connect();
  b_->Connect();
  ASSERT_GE(TimeToWritable(), 0);
  queue_.Advance(1000 + GetParam());
  ASSERT_EQ(a_->best_connection()->remote_candidate().protocol, "udp");
  const int switches_before = switches_;
  // UDP to and from B stops: the connection in use goes unconfirmed, signalling is asked for,
  // a new generation of ports comes up and its TCP pair takes over.
  hub_b_->AddRule({false, FP_UDP, FD_ANY, SocketAddress()});
  const Tick cut = queue_.Now();
  while (queue_.Now() - cut < 20000 &&
         !(a_->IsWritable() && a_->best_connection()->remote_candidate().protocol == "tcp")) {
    queue_.Advance(10);
  }
  const int64_t failover_ms = queue_.Now() - cut;
  ASSERT_TRUE(a_->IsWritable());
  EXPECT_EQ(a_->best_connection()->remote_candidate().protocol, "tcp");
  // A call is silent for no longer than this (it was over 6 s when only the 5 s rule applied).
  EXPECT_LT(failover_ms, 2000);
  EXPECT_GT(switches_, switches_before);
  EXPECT_GE(alloc_a_->sessions_created(), 2);
  ASSERT_EQ(a_->Send("after", 5), 5);
  queue_.RunDue();
  queue_.RunDue();
  EXPECT_EQ(received_[1], "after");
  RecordProperty("failover_ms", static_cast<int>(failover_ms));
}

INSTANTIATE_TEST_SUITE_P(CheckPhases, P2PSocketFailOverTest, ::testing::Values(0, 120, 240, 360));

// Packets lost for a moment (a short outage, or a few lost checks on a lossy path) must not
// cost the connection in use: it stays writable, is not replaced and no new ports come up;
// only a few extra checks go out.
TEST_F(P2PSocketTest, ShortOutageKeepsTheConnectionInUse) {
  Exchange();
  a_->Connect();
  b_->Connect();
  ASSERT_GE(TimeToWritable(), 0);
  queue_.Advance(1000);
  Connection* best = a_->best_connection();
  ASSERT_NE(best, nullptr);
  const int switches_before = switches_;
  std::vector<P2PSocket::State> states;
  a_->StateChanged.Connect(this, [&](P2PSocket*, P2PSocket::State s) { states.push_back(s); });
  hub_b_->AddRule({false, FP_UDP, FD_ANY, SocketAddress()});
  queue_.Advance(500);
  EXPECT_FALSE(best->pings_since_last_response().empty());
  hub_b_->ClearRules();
  queue_.Advance(3000);
  EXPECT_EQ(a_->best_connection(), best);
  EXPECT_EQ(best->write_state(), Connection::STATE_WRITE_CONFIRMED);
  EXPECT_TRUE(best->pings_since_last_response().empty());
  EXPECT_TRUE(states.empty());
  EXPECT_EQ(switches_, switches_before);
  EXPECT_EQ(alloc_a_->sessions_created(), 1);
}

// 20% of the datagrams each side sends are lost (the same ones every run). Checks of the
// connection in use go unanswered a third of the time, yet over minutes it stays in use and
// writable: the quicker give-up on that connection needs about a dozen checks in a row lost.
class P2PSocketLossTest : public P2PSocketTest {
 protected:
  void SetUp() override {
    lossy_a_ = std::make_unique<LossySocketHub>(queue_.hub(), 0.2, 1);
    lossy_b_ = std::make_unique<LossySocketHub>(queue_.hub(), 0.2, 2);
    Build(lossy_a_.get(), lossy_b_.get());
  }
  std::unique_ptr<LossySocketHub> lossy_a_;
  std::unique_ptr<LossySocketHub> lossy_b_;
};

TEST_F(P2PSocketLossTest, TwentyPercentLossNeitherFlapsNorLosesTheWritableState) {
  Exchange();
  a_->Connect();
  b_->Connect();
  ASSERT_GE(TimeToWritable(), 0);
  queue_.Advance(2000);
  Connection* best = a_->best_connection();
  ASSERT_NE(best, nullptr);
  const int switches_before = switches_;
  int unwritable = 0;
  for (P2PSocket* s : {a_.get(), b_.get()}) {
    s->StateChanged.Connect(this, [&](P2PSocket*, P2PSocket::State) { ++unwritable; });
  }
  const int dropped_before = lossy_a_->dropped() + lossy_b_->dropped();
  queue_.Advance(5 * 60 * 1000);
  EXPECT_GT(lossy_a_->dropped() + lossy_b_->dropped() - dropped_before, 200);
  EXPECT_EQ(unwritable, 0);
  EXPECT_EQ(switches_, switches_before);
  EXPECT_EQ(a_->best_connection(), best);
  EXPECT_EQ(alloc_a_->sessions_created(), 1);
  int sent = 0;
  for (int i = 0; i < 100; ++i) sent += a_->Send("x", 1) == 1;
  EXPECT_EQ(sent, 100);
  queue_.RunDue();
  EXPECT_GT(received_[1].size(), 60u);
}

TEST_F(P2PSocketTest, ResetStartsOverAndAsksForSignalling) {
  Exchange();
  a_->Connect();
  b_->Connect();
  ASSERT_GE(TimeToWritable(), 0);
  const int requests = signaling_requests_;
  std::vector<P2PSocket::State> states;
  a_->StateChanged.Connect(this, [&](P2PSocket*, P2PSocket::State s) { states.push_back(s); });
  grant_signaling_ = false;
  a_->Reset();
  EXPECT_EQ(states, std::vector<P2PSocket::State>{P2PSocket::STATE_CONNECTING});
  EXPECT_EQ(signaling_requests_, requests + 1);
  EXPECT_TRUE(a_->connections().empty());
  EXPECT_EQ(a_->remote_candidate_count(), 0u);
  EXPECT_EQ(a_->best_connection(), nullptr);
  queue_.Advance(1000);
  EXPECT_FALSE(a_->IsWritable());
}

}  // namespace
}  // namespace vexalo

namespace vexalo {
namespace {

// Two equal connections from one port to two ports of the peer, their round trips set on
// the virtual clock: the best one changes only for a path more than 10 ms faster.
TEST(P2PSocketSwitchTest, EqualConnectionsSwitchOnlyForAClearlyFasterPath) {
  VirtualQueue queue;
  const Network lo{"lo", 0x7F000001};
  UdpPort a(&queue, nullptr, lo, SocketAddress(0x7F000001, 0));
  UdpPort y(&queue, nullptr, lo, SocketAddress(0x7F000001, 0));
  UdpPort z(&queue, nullptr, lo, SocketAddress(0x7F000001, 0));
  for (Port* p : {static_cast<Port*>(&a), static_cast<Port*>(&y), static_cast<Port*>(&z)}) {
    p->SetPreference(1.0f);
    p->PrepareAddress();
  }
  Connection* ay = a.CreateConnection(y.candidates()[0], ORIGIN_MESSAGE);
  Connection* az = a.CreateConnection(z.candidates()[0], ORIGIN_MESSAGE);
  y.CreateConnection(a.candidates()[0], ORIGIN_MESSAGE);
  z.CreateConnection(a.candidates()[0], ORIGIN_MESSAGE);
  // A check answered after `rtt` ms of virtual time: the request goes out (a posted send),
  // then the clock moves before anything is read.
  auto check = [&](Connection* c, int rtt) {
    c->Ping(queue.Now());
    QueuedMessage msg;
    if (queue.Get(&msg, 0)) queue.Dispatch(&msg);
    queue.Jump(rtt);
    queue.RunDue();
  };
  check(ay, 30);
  check(az, 25);
  ASSERT_EQ(ay->write_state(), Connection::STATE_WRITE_CONFIRMED);
  ASSERT_EQ(az->write_state(), Connection::STATE_WRITE_CONFIRMED);
  ASSERT_EQ(P2PSocket::Compare(ay, az), 0);
  // 5 ms faster: not worth a change, either way.
  EXPECT_FALSE(P2PSocket::ShouldSwitch(ay, az));
  EXPECT_FALSE(P2PSocket::ShouldSwitch(az, ay));
  // Much faster: switch to it; never to the slow one.
  for (int i = 0; i < 8; ++i) check(az, 2);
  EXPECT_LT(az->rtt(), 10u);
  EXPECT_EQ(ay->rtt(), 30u);
  EXPECT_TRUE(P2PSocket::ShouldSwitch(ay, az));
  EXPECT_FALSE(P2PSocket::ShouldSwitch(az, ay));
  // A better state always wins, whatever the round trip.
  ay->Prune();
  EXPECT_TRUE(P2PSocket::ShouldSwitch(ay, az));
  EXPECT_FALSE(P2PSocket::ShouldSwitch(az, ay));
  EXPECT_TRUE(P2PSocket::ShouldSwitch(nullptr, az));
  EXPECT_FALSE(P2PSocket::ShouldSwitch(az, az));
}

}  // namespace
}  // namespace vexalo
