#include "p2p/client/allocatorsession.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "p2p/base/port.h"
#include "p2p/client/allocationrun.h"
#include "p2p/client/portallocator.h"
#include "relay/relayfixture.h"

namespace vexalo {
namespace {

// Sessions with a fixed configuration: a STUN server that never answers and one relay entry
// on the test's relay server.
class FixedAllocator : public PortAllocator {
 public:
  FixedAllocator(EventQueue* worker, PortConfiguration config)
      : PortAllocator(worker, true), config_(std::move(config)) {}
  std::unique_ptr<AllocatorSession> CreateSession(const std::string& name,
                                                  int generation) override {
    return std::make_unique<Session>(this, name, generation);
  }

 private:
  class Session : public AllocatorSession {
   public:
    Session(FixedAllocator* allocator, const std::string& name, int generation)
        : AllocatorSession(allocator, name, generation), config_(allocator->config_) {}

   protected:
    void GetPortConfigurations() override {
      ConfigurationReady(std::make_unique<PortConfiguration>(config_));
    }

   private:
    PortConfiguration config_;
  };

  PortConfiguration config_;
};

class AllocatorSessionTest : public RelayFixture {
 protected:
  void SetUp() override {
    RelayFixture::SetUp();
    RawPeer* stun = &silent_stun_;
    config_.stun_address = stun->address();
    config_.username = session_.username;
    config_.password = session_.password;
    config_.magic_cookie = session_.magic_cookie;
    config_.relays.push_back(RelayServerEntry{{Server(PROTO_UDP), Server(PROTO_TCP)}, 0.0f});
  }

  // Creates and starts a session; records the loopback ports' types and signalled protocols.
  std::unique_ptr<AllocatorSession> Begin(PortAllocator* allocator, int generation = 0) {
    auto session = allocator->CreateSession("audio", generation);
    session->PortReady.Connect(this, [this](AllocatorSession*, Port* port) {
      if (port->network().ip == kLoopback) ready_types_.insert(port->type());
    });
    session->CandidatesReady.Connect(
        this, [this](AllocatorSession*, const std::vector<Candidate>& candidates) {
          for (const Candidate& c : candidates) signalled_.insert(c.type + "/" + c.protocol);
        });
    session->GetInitialPorts();
    session->StartGetAllPorts();
    queue_.RunDue();
    return session;
  }

  // The kinds of port the session made on loopback so far, "type/first protocol".
  static std::multiset<std::string> LoopbackPorts(const AllocatorSession& session) {
    std::multiset<std::string> kinds;
    for (size_t i = 0; i < session.port_count(); ++i) {
      Port* port = session.port(i);
      if (port->network().ip != kLoopback) continue;
      kinds.insert(port->type() + (port->type() == "relay" ? "" : "/" + std::string(
          port->candidates().empty() ? "?" : port->candidates()[0].protocol)));
    }
    return kinds;
  }

  RawPeer silent_stun_{&queue_};
  PortConfiguration config_;
  std::set<std::string> ready_types_;
  std::set<std::string> signalled_;
};

TEST_F(AllocatorSessionTest, PhasesComeOneSecondApartWithoutHistory) {
  FixedAllocator allocator(&queue_, config_);
  auto session = Begin(&allocator);
  ASSERT_FALSE(session->runs().empty());
  // Step 0: UDP and STUN ports (the STUN one waits for its server).
  EXPECT_EQ(LoopbackPorts(*session), (std::multiset<std::string>{"local/udp", "stun/?"}));
  EXPECT_TRUE(signalled_.count("local/udp"));
  queue_.Advance(1000);
  ASSERT_TRUE(RunUntil([&] { return signalled_.count("relay/udp"); }));
  EXPECT_EQ(session->port(0)->name(), "audio");
  EXPECT_EQ(session->port(0)->generation(), 0u);
  // The relay candidate at the relay's TCP address waits for the TCP phase.
  EXPECT_FALSE(signalled_.count("relay/tcp"));
  queue_.Advance(1000);
  EXPECT_TRUE(signalled_.count("relay/tcp"));
  EXPECT_TRUE(signalled_.count("local/tcp"));
  EXPECT_EQ(LoopbackPorts(*session).count("local/tcp"), 1u);
}

TEST_F(AllocatorSessionTest, LearnedPhaseStartsEarlierPhasesAtOnce) {
  FixedAllocator allocator(&queue_, config_);
  allocator.NoteWritablePhase(2);
  allocator.NoteWritablePhase(3);  // a later phase does not replace an earlier one
  EXPECT_EQ(allocator.best_phase(), 2);
  auto session = Begin(&allocator);
  const AllocationRun& run = *session->runs().front();
  EXPECT_EQ(run.phase_step(AllocationRun::PHASE_RELAY), 0);
  EXPECT_EQ(run.phase_step(AllocationRun::PHASE_TCP), 0);
  EXPECT_EQ(run.phase_step(AllocationRun::PHASE_SSLTCP), 1);
  EXPECT_TRUE(run.ProtocolEnabled(PROTO_TCP));
  EXPECT_FALSE(run.ProtocolEnabled(PROTO_SSLTCP));
  EXPECT_EQ(LoopbackPorts(*session).count("local/tcp"), 1u);
  EXPECT_EQ(LoopbackPorts(*session).count("relay"), 1u);
  queue_.Advance(1000);
  EXPECT_TRUE(session->runs().front()->ProtocolEnabled(PROTO_SSLTCP));
}

// A later generation is gathered because the path in use died: the relay starts with UDP.
TEST_F(AllocatorSessionTest, LaterGenerationStartsWithTheRelay) {
  FixedAllocator allocator(&queue_, config_);
  auto session = Begin(&allocator, 2);
  const AllocationRun& run = *session->runs().front();
  EXPECT_EQ(run.phase_step(AllocationRun::PHASE_RELAY), 0);
  EXPECT_EQ(run.phase_step(AllocationRun::PHASE_TCP), 1);
  EXPECT_EQ(run.phase_step(AllocationRun::PHASE_SSLTCP), 2);
  ASSERT_TRUE(RunUntil([&] { return signalled_.count("relay/udp"); }));
  EXPECT_EQ(session->port(0)->generation(), 2u);
}

TEST_F(AllocatorSessionTest, HttpsProxyStartsWithTheRelay) {
  FixedAllocator allocator(&queue_, config_);
  ProxySettings proxy;
  proxy.type = PROXY_HTTPS;
  allocator.SetProxy("test", proxy);
  auto session = Begin(&allocator);
  const AllocationRun& run = *session->runs().front();
  EXPECT_EQ(run.phase_step(AllocationRun::PHASE_RELAY), 0);
  EXPECT_EQ(run.phase_step(AllocationRun::PHASE_TCP), 1);
  EXPECT_EQ(run.phase_step(AllocationRun::PHASE_SSLTCP), 2);
}

TEST_F(AllocatorSessionTest, WithoutUdpPortsRelayOverUdpIsSignalledAtOnce) {
  FixedAllocator allocator(&queue_, config_);
  allocator.SetFlags(PortAllocator::kDisableUdp | PortAllocator::kDisableStun |
                     PortAllocator::kDisableTcp);
  auto session = Begin(&allocator);
  EXPECT_TRUE(LoopbackPorts(*session).empty());
  queue_.Advance(1000);
  ASSERT_TRUE(RunUntil([&] { return signalled_.count("relay/udp"); }));
  EXPECT_TRUE(ready_types_.count("relay"));
  queue_.Advance(2000);
  EXPECT_EQ(LoopbackPorts(*session), (std::multiset<std::string>{"relay"}));
}

TEST_F(AllocatorSessionTest, StoppedSessionTakesNoFurtherSteps) {
  FixedAllocator allocator(&queue_, config_);
  auto session = Begin(&allocator);
  session->StopGetAllPorts();
  EXPECT_FALSE(session->IsGettingAllPorts());
  queue_.Advance(5000);
  EXPECT_EQ(LoopbackPorts(*session).count("relay"), 0u);
  EXPECT_EQ(LoopbackPorts(*session).count("local/tcp"), 0u);
}

}  // namespace
}  // namespace vexalo
