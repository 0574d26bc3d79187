// A standard server's TURN service end to end: Prosody announces coturn (external service
// discovery, time-limited credentials from a secret both share); our client discovers it,
// and its allocator gets a relay candidate from coturn with the announced credentials.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "base/runtime/loopthread.h"
#include "base/runtime/queuetaskrunner.h"
#include "base/runtime/threadregistry.h"
#include "p2p/client/httpportallocator.h"
#include "p2p/client/turnserverlist.h"
#include "support/liveclient.h"
#include "support/peerprocess.h"
#include "support/peers/prosodypeer.h"
#include "support/sockettestutil.h"
#include "xmpp/server/externalservicestask.h"

namespace vexalo {
namespace {

constexpr const char* kTurnSecret = "shared-turn-secret";

class TurnDiscoveryPeerTest : public ::testing::Test, public SlotHost {
 protected:
  void SetUp() override {
    turn_port_ = FreeLoopbackPort();
    std::string error;
    if (!coturn_.Start({"turnserver", "-n", "--listening-ip", "127.0.0.1", "--listening-port",
                        std::to_string(turn_port_), "--relay-ip", "127.0.0.1", "--use-auth-secret",
                        "--static-auth-secret", kTurnSecret, "--realm", "localhost", "--no-tls",
                        "--no-dtls", "--no-cli", "--allow-loopback-peers", "--userdb",
                        dir_.path() + "/db", "--pidfile", dir_.path() + "/pid"},
                       turn_port_, dir_.path() + "/turn.log", &error)) {
      GTEST_SKIP() << "coturn did not start: " << error;
    }
  }

  // Prosody announcing coturn with `secret` (the right one or not).
  void StartProsody(const std::string& secret) {
    prosody_ = std::make_unique<ProsodyPeer>(
        std::vector<std::string>{"turn_external"},
        "turn_external_host = \"127.0.0.1\"\n"
        "turn_external_port = " + std::to_string(turn_port_) + "\n"
        "turn_external_secret = \"" + secret + "\"\n"
        "turn_external_ttl = 600\n");
    ASSERT_TRUE(prosody_->started()) << prosody_->error();
    prosody_->AddUser("alice", "secret");
    client_ = std::make_unique<LiveClient>(&runner_, LocalServerSettings(prosody_->port(), "alice", "secret"),
                                           prosody_->certificate());
    ASSERT_TRUE(RunUntil([&] { return client_->Open() || client_->Closed(); }));
    ASSERT_TRUE(client_->Open()) << EngineErrorName(client_->error) << "\n" << client_->Traffic();
  }

  std::vector<ExternalService> Discover() {
    std::vector<ExternalService> services;
    bool reported = false;
    auto* task = new ExternalServicesTask(client_->connection());
    task->SignalServices.Connect(this, [&](const std::vector<ExternalService>& list) {
      services = list;
      reported = true;
    });
    task->Start();
    task->Request();
    EXPECT_TRUE(RunUntil([&] { return reported; })) << client_->Traffic();
    return services;
  }

  // The relay candidates an allocator with only these TURN servers (and no relay of the
  // service) signals within a few seconds.
  std::vector<Candidate> RelayCandidates(std::vector<TurnServerEntry> servers) {
    HTTPPortAllocator allocator(ThreadRegistry::Current(), {SocketAddress()}, {}, true);
    allocator.SetTurnServers(std::move(servers));
    allocator.SetFlags(PortAllocator::kDisableUdp | PortAllocator::kDisableStun |
                       PortAllocator::kDisableTcp);
    auto session = allocator.CreateSession("audio", 0);
    std::vector<Candidate> relays;
    session->CandidatesReady.Connect(this, [&](AllocatorSession*, const std::vector<Candidate>& cs) {
      for (const Candidate& c : cs) {
        if (c.type == "relay" && c.address.ip() == 0x7F000001) relays.push_back(c);
      }
    });
    session->GetInitialPorts();
    session->StartGetAllPorts();
    RunUntil([&] { return !relays.empty(); });
    return relays;
  }

  TempDir dir_;
  PeerProcess coturn_;
  uint16_t turn_port_ = 0;
  QueueTaskRunner runner_;
  std::unique_ptr<ProsodyPeer> prosody_;
  std::unique_ptr<LiveClient> client_;
};

TEST_F(TurnDiscoveryPeerTest, ClientGetsARelayCandidateFromTheTurnServiceItsServerAnnounces) {
  ASSERT_NO_FATAL_FAILURE(StartProsody(kTurnSecret));
  const std::vector<ExternalService> services = Discover();
  const ExternalService* turn = nullptr;
  for (const ExternalService& s : services) {
    if (s.IsTurnOverUdp()) turn = &s;
  }
  ASSERT_NE(turn, nullptr) << client_->Traffic();
  EXPECT_EQ(turn->host, "127.0.0.1");
  EXPECT_EQ(turn->port, turn_port_);
  EXPECT_TRUE(turn->HasCredentials());
  // Time-limited credentials: about the configured ten minutes from now.
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  EXPECT_GT(turn->expires, now + 500);
  EXPECT_LT(turn->expires, now + 700);

  const std::vector<TurnServerEntry> servers = TurnServerList::FromExternalServices(services);
  ASSERT_EQ(servers.size(), 1u);
  const std::vector<Candidate> relays = RelayCandidates(servers);
  ASSERT_FALSE(relays.empty()) << "no allocation at coturn with the announced credentials";
  EXPECT_EQ(relays[0].protocol, "udp");
  EXPECT_NE(relays[0].address.port(), turn_port_);  // the relayed address, not the server's
}

TEST_F(TurnDiscoveryPeerTest, CredentialsFromAnotherSecretGetNoAllocation) {
  ASSERT_NO_FATAL_FAILURE(StartProsody("not-the-turn-servers-secret"));
  const std::vector<TurnServerEntry> servers = TurnServerList::FromExternalServices(Discover());
  ASSERT_EQ(servers.size(), 1u);
  EXPECT_TRUE(RelayCandidates(servers).empty());
}

}  // namespace
}  // namespace vexalo
