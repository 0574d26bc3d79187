#include "relayd/relaysessionendpoint.h"

#include <gtest/gtest.h>

#include <string>

#include "relay/relayfixture.h"

namespace vexalo {
namespace {

constexpr char kToken[] = "relay-token-of-the-test";

class RelaySessionEndpointTest : public RelayFixture {
 protected:
  RelayAnnouncement Announcement() const {
    RelayAnnouncement a;
    a.relay_ip = "127.0.0.1";
    a.udp_port = 5001;
    a.tcp_port = 5002;
    a.stun_ip = "127.0.0.1";
    return a;
  }
};

TEST_F(RelaySessionEndpointTest, OnlyTheRightRequestWithTheTokenGetsASession) {
  RelaySessionEndpoint endpoint(&queue_, sessions_.get(), kToken, Announcement());
  const size_t before = sessions_->size();
  const struct {
    const char* head;
    int status;
  } cases[] = {
      {"GET /create_session HTTP/1.1\r\nX-Ombrix-Relay-Auth: relay-token-of-the-test\r\n", 200},
      {"GET /create_session HTTP/1.1\r\nx-vexalo-ombrix-relay-auth:relay-token-of-the-test \r\n",
       200},
      {"GET /create_session HTTP/1.1\r\nX-Ombrix-Relay-Auth: relay-token-of-the-tes\r\n", 403},
      {"GET /create_session HTTP/1.1\r\nX-Ombrix-Relay-Auth: \r\n", 403},
      {"GET /create_session HTTP/1.1\r\nX-Ombrix-Service-Cookie: relay-token-of-the-test\r\n",
       403},
      {"GET /create_session HTTP/1.1\r\n", 403},
      {"POST /create_session HTTP/1.1\r\n", 405},
      {"GET /other HTTP/1.1\r\n", 404},
      {"GARBAGE\r\n", 400},
  };
  int granted = 0;
  for (const auto& c : cases) {
    std::string body;
    EXPECT_EQ(endpoint.Answer(c.head, &body), c.status) << c.head;
    if (c.status == 200) {
      ++granted;
      EXPECT_NE(body.find("relay.ip=127.0.0.1\r\n"), std::string::npos);
      EXPECT_NE(body.find("relay.udp_port=5001\r\n"), std::string::npos);
      EXPECT_EQ(body.find("relay.ssltcp_port"), std::string::npos);
      EXPECT_NE(body.find("magic_cookie="), std::string::npos);
    } else {
      EXPECT_TRUE(body.empty());
    }
  }
  EXPECT_EQ(sessions_->size(), before + granted);
}

TEST_F(RelaySessionEndpointTest, FullSessionTableAnswers503) {
  RelaySessionStore small(1, 1000);
  RelaySessionEndpoint endpoint(&queue_, &small, kToken, Announcement());
  std::string body;
  const std::string head =
      std::string("GET /create_session HTTP/1.1\r\nX-Ombrix-Relay-Auth: ") + kToken + "\r\n";
  EXPECT_EQ(endpoint.Answer(head, &body), 200);
  EXPECT_EQ(endpoint.Answer(head, &body), 503);
  queue_.Advance(1000);
  EXPECT_EQ(endpoint.Answer(head, &body), 200);
}

// Over a real socket: an endless header is cut off at the bound with 431.
TEST_F(RelaySessionEndpointTest, OversizedRequestIsRefused) {
  RelaySessionEndpoint endpoint(&queue_, sessions_.get(), kToken, Announcement());
  ASSERT_TRUE(endpoint.Start(kLoopback, 0));
  std::unique_ptr<EventSocket> socket(queue_.hub()->CreateEventSocket(kStreamSocket));
  std::string reply;
  bool closed = false;
  socket->ConnectEvent.Connect(this, [](EventSocket* s) {
    std::string request = "GET /create_session HTTP/1.1\r\nX-Filler: " +
                          std::string(RelaySessionEndpoint::kMaxRequestBytes + 100, 'x');
    s->Send(request.data(), request.size());
  });
  socket->ReadEvent.Connect(this, [&](EventSocket* s) {
    char buffer[512];
    int n;
    while ((n = s->Recv(buffer, sizeof(buffer))) > 0) reply.append(buffer, n);
  });
  socket->CloseEvent.Connect(this, [&](EventSocket*, int) { closed = true; });
  socket->Connect(SocketAddress(kLoopback, static_cast<uint16_t>(endpoint.port())));
  ASSERT_TRUE(RunUntil([&] { return closed; }));
  EXPECT_EQ(reply.rfind("HTTP/1.1 431 ", 0), 0u) << reply;
}

}  // namespace
}  // namespace vexalo
