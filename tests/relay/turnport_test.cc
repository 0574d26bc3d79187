// TURN relay candidates from coturn in TURN mode on 127.0.0.1 (long-term credentials).
#include "p2p/base/turnport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <memory>
#include <string>

#include "p2p/client/httpportallocator.h"
#include "relay/relayfixture.h"
#include "support/peerprocess.h"

namespace vexalo {
namespace {

class TurnPortTest : public RelayFixture {
 protected:
  void SetUp() override {
    RelayFixture::SetUp();
    port_ = FreeLoopbackPort();
    const std::string p = std::to_string(port_);
    std::string error;
    if (!coturn_.Start({"turnserver", "-n", "--listening-ip", "127.0.0.1", "--listening-port", p,
                        "--relay-ip", "127.0.0.1", "--lt-cred-mech", "--user", "alice:secret",
                        "--realm", "test", "--no-tls", "--no-dtls", "--no-cli",
                        "--allow-loopback-peers", "--userdb", dir_.path() + "/db", "--pidfile",
                        dir_.path() + "/pid"},
                       port_, dir_.path() + "/turn.log", &error)) {
      GTEST_SKIP() << "coturn did not start: " << error;
    }
  }

  std::unique_ptr<TurnPort> MakeTurnPort(const std::string& password) {
    auto port = std::make_unique<TurnPort>(&queue_, nullptr, kLoopbackNetwork,
                                           SocketAddress(kLoopback, 0),
                                           SocketAddress(kLoopback, port_), "alice", password);
    port->AddressReady.Connect(this, [this](Port*) { ++ready_; });
    return port;
  }

  // A real server on real time: the virtual clock moves along so that retransmissions go out.
  bool RunWithClock(const std::function<bool()>& done) {
    for (int i = 0; i < 200 && !done(); ++i) {
      queue_.hub()->Wait(10, true);
      queue_.Advance(20);
    }
    return done();
  }

  TempDir dir_;
  PeerProcess coturn_;
  uint16_t port_ = 0;
};

TEST_F(TurnPortTest, TwoPortsTalkThroughCoturn) {
  auto a = MakeTurnPort("secret");
  auto b = MakeTurnPort("secret");
  a->PrepareAddress();
  b->PrepareAddress();
  ASSERT_TRUE(RunWithClock([&] { return ready_ == 2; }));
  ASSERT_EQ(a->candidates().size(), 1u);
  EXPECT_EQ(a->candidates()[0].type, "relay");
  const SocketAddress to_b = b->relayed_address();
  const SocketAddress to_a = a->relayed_address();
  ConnectionTo(b.get(), to_a);
  ConnectionTo(a.get(), to_b);
  // Each side's first send asks for its permission; keep sending until both got through.
  for (int i = 0; i < 20 && delivered_.size() < 2; ++i) {
    if (std::count(delivered_.begin(), delivered_.end(), "to b") == 0) a->SendTo("to b", 4, to_b, true);
    if (std::count(delivered_.begin(), delivered_.end(), "to a") == 0) b->SendTo("to a", 4, to_a, true);
    RunWithClock([&] { return delivered_.size() >= 2; });
  }
  EXPECT_EQ(std::count(delivered_.begin(), delivered_.end(), "to b"), 1);
  EXPECT_EQ(std::count(delivered_.begin(), delivered_.end(), "to a"), 1);
}

TEST_F(TurnPortTest, WrongPasswordGivesNoCandidate) {
  auto port = MakeTurnPort("wrong");
  port->PrepareAddress();
  RunWithClock([&] { return ready_ == 1; });
  EXPECT_EQ(ready_, 0);
  EXPECT_FALSE(port->allocated());
  EXPECT_EQ(port->SendTo("x", 1, SocketAddress(kLoopback, 9), true), -1);
}

}  // namespace
}  // namespace vexalo

namespace vexalo {
namespace {

// Without relay hosts of the service, the allocator's session makes a TURN relay port from
// the user's server's TURN service, and its candidate is signalled in the relay phase.
TEST_F(TurnPortTest, AllocatorUsesTurnWhenTheServiceHasNoRelay) {
  HTTPPortAllocator allocator(&queue_, {SocketAddress()}, {}, true);
  allocator.SetTurnServers({TurnServerEntry{SocketAddress(kLoopback, port_), "alice", "secret"}});
  allocator.SetFlags(PortAllocator::kDisableUdp | PortAllocator::kDisableStun |
                     PortAllocator::kDisableTcp);
  auto session = allocator.CreateSession("audio", 0);
  std::vector<Candidate> signalled;
  session->CandidatesReady.Connect(this, [&](AllocatorSession*, const std::vector<Candidate>& cs) {
    for (const Candidate& c : cs) {
      if (c.address.ip() == kLoopback) signalled.push_back(c);
    }
  });
  session->GetInitialPorts();
  session->StartGetAllPorts();
  ASSERT_TRUE(RunWithClock([&] { return !signalled.empty(); }));
  EXPECT_EQ(signalled[0].type, "relay");
  EXPECT_EQ(signalled[0].protocol, "udp");
}

}  // namespace
}  // namespace vexalo
