#include "relayd/relayserver.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "relay/relayfixture.h"

namespace vexalo {
namespace {

// A client that speaks to the relay with hand-made messages.
class RelayServerTest : public RelayFixture {
 protected:
  std::string Allocate(const std::string& username, const std::string& cookie) {
    StunPacket request;
    request.SetType(STUN_ALLOCATE_REQUEST);
    request.SetTransactionId(std::string(16, static_cast<char>('a' + (sent_++ % 26))));
    auto c = StunPacket::CreateBytes(STUN_ATTR_MAGIC_COOKIE);
    c->CopyBytes(cookie);
    request.Append(std::move(c));
    auto u = StunPacket::CreateBytes(STUN_ATTR_USERNAME);
    u->CopyBytes(username);
    request.Append(std::move(u));
    return RawPeer::Serialize(request);
  }
  SocketAddress udp() const { return Server(PROTO_UDP).address; }
  // The type of the last answer, 0 when none came.
  uint16_t LastType(const RawPeer& client) {
    StunPacket answer;
    return client.LastStun(&answer) ? answer.type() : 0;
  }

  int sent_ = 0;
};

TEST_F(RelayServerTest, GarbageAndOversizedInputIsDroppedWithoutAnswer) {
  RawPeer client(&queue_);
  std::mt19937 random(7);
  for (int i = 0; i < 200; ++i) {
    std::string junk(1 + random() % 600, '\0');
    for (char& c : junk) c = static_cast<char>(random());
    client.SendTo(junk, udp());
    if (i % 16 == 0) RunUntil([&] { return server_->stats().packets_in > unsigned(i); });
  }
  // A message whose length field promises more than arrives, and a 60 kB one.
  client.SendTo(std::string("\x00\x03\xFF\xFF", 4) + std::string(16, 'x'), udp());
  client.SendTo(std::string(60000, 'A'), udp());
  // A send without allocation must not be relayed anywhere.
  RawPeer victim(&queue_);
  StunPacket send;
  send.SetType(STUN_SEND_REQUEST);
  auto destination = StunPacket::CreateAddress(STUN_ATTR_DESTINATION_ADDRESS);
  destination->SetAddress(victim.address());
  send.Append(std::move(destination));
  client.SendTo(RawPeer::Serialize(send), udp());
  RunUntil([&] { return server_->stats().packets_in >= 203; });
  queue_.Advance(100);
  EXPECT_EQ(server_->allocation_count(), 0u);
  EXPECT_TRUE(victim.received.empty());
  EXPECT_EQ(server_->stats().relayed, 0u);
  // Still serving: a real allocation after all that works.
  client.received.clear();
  client.SendTo(Allocate(session_.username, session_.magic_cookie), udp());
  ASSERT_TRUE(RunUntil([&] { return !client.received.empty(); }));
  EXPECT_EQ(LastType(client), STUN_ALLOCATE_RESPONSE);
}

TEST_F(RelayServerTest, WrongCredentialsAreRefused) {
  RawPeer client(&queue_);
  const struct {
    std::string username, cookie;
  } cases[] = {
      {"unknownuser00000", session_.magic_cookie},
      {session_.username, "wrongcookie00000"},
      {session_.username, ""},
  };
  for (const auto& c : cases) {
    client.received.clear();
    client.SendTo(Allocate(c.username, c.cookie), udp());
    ASSERT_TRUE(RunUntil([&] { return !client.received.empty(); })) << c.username;
    EXPECT_EQ(LastType(client), STUN_ALLOCATE_ERROR_RESPONSE);
  }
  EXPECT_EQ(server_->allocation_count(), 0u);
}

TEST_F(RelayServerTest, AllocationsInALoopStopAtThePerClientLimit) {
  // Many sockets from one address: every one may allocate until the per-client bound.
  std::vector<std::unique_ptr<RawPeer>> clients;
  for (size_t i = 0; i < limits_.max_allocations_per_client + 5; ++i) {
    clients.push_back(std::make_unique<RawPeer>(&queue_));
    clients.back()->SendTo(Allocate(session_.username, session_.magic_cookie), udp());
    // The same client asking again keeps its one allocation.
    clients.back()->SendTo(Allocate(session_.username, session_.magic_cookie), udp());
  }
  ASSERT_TRUE(RunUntil([&] {
    for (const auto& c : clients) {
      if (c->received.size() < 2) return false;
    }
    return true;
  }));
  EXPECT_EQ(server_->allocation_count(), limits_.max_allocations_per_client);
  EXPECT_EQ(LastType(*clients.back()), STUN_ALLOCATE_ERROR_RESPONSE);
  EXPECT_EQ(LastType(*clients.front()), STUN_ALLOCATE_RESPONSE);
}

TEST_F(RelayServerTest, ExpiredSessionAllowsNoNewAllocation) {
  RawPeer client(&queue_);
  queue_.Advance(limits_.session_lifetime_ms);
  client.SendTo(Allocate(session_.username, session_.magic_cookie), udp());
  ASSERT_TRUE(RunUntil([&] { return !client.received.empty(); }));
  EXPECT_EQ(LastType(client), STUN_ALLOCATE_ERROR_RESPONSE);
}

TEST_F(RelayServerTest, StreamClientsAreBoundedAndSilentOnesDropped) {
  limits_.max_connections_per_client = 2;
  server_.reset();
  StartServer();
  std::vector<std::unique_ptr<EventSocket>> sockets;
  for (int i = 0; i < 4; ++i) {
    sockets.emplace_back(queue_.hub()->CreateEventSocket(kStreamSocket));
    sockets.back()->Connect(Server(PROTO_TCP).address);
  }
  RunUntil([&] { return server_->connection_count() == 2; });
  queue_.Advance(100);
  EXPECT_EQ(server_->connection_count(), 2u);
  queue_.Advance(RelayServer::kHandshakeTimeoutMs + RelayServer::kSweepIntervalMs);
  EXPECT_EQ(server_->connection_count(), 0u);
}

// An SSL-TCP client whose greeting is wrong is cut off before any relay message is read.
TEST_F(RelayServerTest, WrongSslGreetingClosesTheConnection) {
  std::unique_ptr<EventSocket> socket(queue_.hub()->CreateEventSocket(kStreamSocket));
  bool closed = false;
  socket->CloseEvent.Connect(this, [&](EventSocket*, int) { closed = true; });
  socket->ConnectEvent.Connect(this, [&](EventSocket* s) {
    const std::string bad(72, 'G');
    s->Send(bad.data(), bad.size());
  });
  socket->Connect(Server(PROTO_SSLTCP).address);
  ASSERT_TRUE(RunUntil([&] { return closed; }));
  EXPECT_EQ(server_->stats().packets_in, 0u);
}

}  // namespace
}  // namespace vexalo
