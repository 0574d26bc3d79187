#include "p2p/client/httpportallocator.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "p2p/base/port.h"
#include "p2p/client/httpportallocatorsession.h"
#include "relay/relayfixture.h"
#include "relayd/relaysessionendpoint.h"
#include "support/logcapture.h"
#include "support/tlstestpeer.h"

namespace vexalo {
namespace {

constexpr char kToken[] = "token-for-the-allocator-test";

// The HTTP allocator against vexalo-relayd's "/create_session" on 127.0.0.1, with relay
// hosts on other loopback addresses that accept and never answer.
class HttpPortAllocatorTest : public RelayFixture {
 protected:
  void SetUp() override {
    RelayFixture::SetUp();
    RelayAnnouncement announcement;
    announcement.relay_ip = "127.0.0.1";
    announcement.udp_port = server_->udp_port();
    announcement.tcp_port = server_->tcp_port();
    endpoint_ = std::make_unique<RelaySessionEndpoint>(&queue_, sessions_.get(), kToken,
                                                       announcement);
    ASSERT_TRUE(endpoint_->Start(kLoopback, 0));
    for (uint32_t ip : {0x7F000002u, 0x7F000003u}) {
      silent_.emplace_back(queue_.hub()->CreateEventSocket(kStreamSocket));
      ASSERT_EQ(silent_.back()->Bind(SocketAddress(ip, static_cast<uint16_t>(endpoint_->port()))),
                0);
      ASSERT_EQ(silent_.back()->Listen(8), 0);
    }
  }

  std::unique_ptr<HTTPPortAllocator> MakeAllocator(std::vector<std::string> hosts) {
    auto allocator = std::make_unique<HTTPPortAllocator>(
        &queue_, std::vector<SocketAddress>{SocketAddress()}, std::move(hosts), true);
    allocator->SetRelayToken(kToken);
    allocator->SetSessionType("http://www.example.net/session/phone");
    allocator->SetRelaySessionEndpoint(false, static_cast<uint16_t>(endpoint_->port()));
    allocator->SetFlags(PortAllocator::kDisableUdp | PortAllocator::kDisableStun |
                        PortAllocator::kDisableTcp);
    return allocator;
  }

  std::unique_ptr<RelaySessionEndpoint> endpoint_;
  std::vector<std::unique_ptr<EventSocket>> silent_;
};

TEST_F(HttpPortAllocatorTest, RelaySessionGivesARelayCandidate) {
  LogCapture log(kInfo);
  auto allocator = MakeAllocator({"127.0.0.1"});
  auto session = allocator->CreateSession("audio", 0);
  bool relay_signalled = false;
  session->CandidatesReady.Connect(this, [&](AllocatorSession*, const std::vector<Candidate>& cs) {
    for (const Candidate& c : cs) relay_signalled |= c.type == "relay" && c.address.port() != 0;
  });
  session->GetInitialPorts();
  session->StartGetAllPorts();
  ASSERT_TRUE(RunUntil([&] { return session->configured(); }));
  queue_.Advance(1000);
  ASSERT_TRUE(RunUntil([&] { return relay_signalled && server_->allocation_count() >= 1; }));
  EXPECT_EQ(log.Matching("HTTPPortAllocator: request 1 succeeded").size(), 1u);
  // The token never reaches the log.
  EXPECT_TRUE(log.Matching(kToken).empty());
}

// The same over HTTPS, with a certificate from a test CA.
TEST_F(HttpPortAllocatorTest, RelaySessionOverHttps) {
  tlstest::TestPki pki;
  tlstest::Credentials server = pki.Issue(tlstest::CertOptions{"localhost", "DNS:localhost,IP:127.0.0.1", -3600,
                                             86400, false});
  const std::string cert = pki.dir() + "/relay.pem";
  const std::string key = pki.dir() + "/relay.key";
  tlstest::WritePem(cert, server.cert.get());
  FILE* key_file = std::fopen(key.c_str(), "w");
  ASSERT_NE(key_file, nullptr);
  PEM_write_PrivateKey(key_file, server.key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(key_file);
  std::string error;
  ASSERT_TRUE(endpoint_->UseTls(cert, key, &error)) << error;

  LogCapture log(kInfo);
  auto allocator = MakeAllocator({"localhost"});
  allocator->SetRelaySessionEndpoint(true, static_cast<uint16_t>(endpoint_->port()));
  allocator->SetCaFile(pki.ca_file());
  auto session = allocator->CreateSession("audio", 0);
  session->GetInitialPorts();
  ASSERT_TRUE(RunUntil([&] { return session->configured(); }));
  EXPECT_EQ(log.Matching("HTTPPortAllocator: request 1 succeeded").size(), 1u);
}

TEST_F(HttpPortAllocatorTest, TimedOutHostsAreSkippedAndOneConfigurationResults) {
  LogCapture log(kInfo);
  // Request n goes to host n mod 3: the two silent hosts first.
  auto allocator = MakeAllocator({"127.0.0.1", "127.0.0.2", "127.0.0.3"});
  auto session = allocator->CreateSession("audio", 0);
  auto* http = static_cast<HTTPPortAllocatorSession*>(session.get());
  session->GetInitialPorts();
  queue_.RunDue();
  EXPECT_EQ(http->requests_made(), 1);
  queue_.Advance(HTTPPortAllocatorSession::kRequestTimeoutMs);
  EXPECT_EQ(http->requests_made(), 2);
  queue_.Advance(HTTPPortAllocatorSession::kRequestTimeoutMs);
  EXPECT_EQ(http->requests_made(), 3);
  ASSERT_TRUE(RunUntil([&] { return session->configured(); }));
  queue_.Advance(HTTPPortAllocatorSession::kRequestTimeoutMs * 2);
  EXPECT_EQ(http->requests_made(), 3);
  EXPECT_EQ(log.Matching("timed out").size(), 2u);
  EXPECT_EQ(log.Matching("succeeded").size(), 1u);
}

TEST_F(HttpPortAllocatorTest, WrongTokenAndSilenceStopAfterFiveRequests) {
  LogCapture log(kInfo);
  auto allocator = MakeAllocator({"127.0.0.1", "127.0.0.2"});
  allocator->SetRelayToken("wrong");
  auto session = allocator->CreateSession("audio", 0);
  auto* http = static_cast<HTTPPortAllocatorSession*>(session.get());
  session->GetInitialPorts();
  session->StartGetAllPorts();
  // Odd requests go to the silent host and time out; even ones get 403 at once.
  for (int i = 0; i < 6; ++i) {
    const int made = http->requests_made();
    if (made % 2 == 0 && made > 0) {
      RunUntil([&] { return http->requests_made() > made || !log.Matching("maximum").empty(); });
    } else {
      queue_.Advance(HTTPPortAllocatorSession::kRequestTimeoutMs);
    }
  }
  EXPECT_EQ(http->requests_made(), HTTPPortAllocatorSession::kMaxRequests);
  EXPECT_EQ(log.Matching("maximum number of requests reached").size(), 1u);
  // The session goes on without the relay: with every other kind of port disabled here,
  // that is no port at all.
  ASSERT_TRUE(RunUntil([&] { return session->configured(); }));
  queue_.Advance(HTTPPortAllocatorSession::kRequestTimeoutMs);
  EXPECT_EQ(http->requests_made(), HTTPPortAllocatorSession::kMaxRequests);
  EXPECT_EQ(session->port_count(), 0u);
}

// Without a relay of the service (another server's account, or every request failed), the
// direct paths still get their ports: a call on the same network must not need the relay.
TEST_F(HttpPortAllocatorTest, WithoutRelayHostsTheLocalPortsComeAtOnce) {
  LogCapture log(kInfo);
  auto allocator = MakeAllocator({});
  allocator->SetFlags(0);
  auto session = allocator->CreateSession("audio", 0);
  bool udp_signalled = false;
  bool relay_signalled = false;
  session->CandidatesReady.Connect(this, [&](AllocatorSession*, const std::vector<Candidate>& cs) {
    for (const Candidate& c : cs) {
      udp_signalled |= c.type == "local" && c.protocol == "udp";
      relay_signalled |= c.type == "relay";
    }
  });
  session->GetInitialPorts();
  session->StartGetAllPorts();
  ASSERT_TRUE(RunUntil([&] { return udp_signalled; }));
  EXPECT_FALSE(relay_signalled);
  EXPECT_EQ(log.Matching("HTTPPortAllocator: no relay host").size(), 1u);
  EXPECT_EQ(static_cast<HTTPPortAllocatorSession*>(session.get())->requests_made(), 0);
}

}  // namespace
}  // namespace vexalo
