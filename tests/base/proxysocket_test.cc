#include <gtest/gtest.h>
#include <glib.h>

#include <memory>
#include <string>

#include "base/proxy/asynchttpsproxysocket.h"
#include "base/proxy/asyncsocks5proxysocket.h"
#include "base/proxy/httpauthenticate.h"
#include "base/net/socketerrors.h"
#include "base/net/ssltcpadapter.h"
#include "support/scriptedtcpserver.h"

namespace vexalo {
namespace {

std::string B64(const std::string& text) {
  gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(text.data()), text.size());
  std::string result(encoded);
  g_free(encoded);
  return result;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++count;
  return count;
}

// An HTTPS proxy socket aimed at a scripted proxy, for a destination on port 5222.
class HttpsProxyTest : public ::testing::Test {
 protected:
  void MakeSocket(const std::string& user, const std::string& password,
                  SocketAddress destination = SocketAddress(0x0A000001u, 5222)) {
    socket_ = std::make_unique<AsyncHttpsProxySocket>(
        CurrentHub()->CreateEventSocket(kStreamSocket), "Vexalo/0.1", peer_.address(), user,
        SecretText::FromClearText(password));
    events_ = std::make_unique<SocketRecorder>(socket_.get());
    socket_->Connect(destination);
  }
  // Answers the n-th request (counted over all connections) with `answers[n]`.
  void Answer(std::vector<std::string> answers) {
    answers_ = std::move(answers);
    peer_.on_data = [this](size_t, ScriptedTcpServer::Connection* c) {
      size_t requests = Count(c->received, "\r\n\r\n");
      while (served_[c] < requests && next_ < answers_.size()) {
        ++served_[c];
        std::string answer = answers_[next_++];
        if (answer == "<close>") {
          c->socket->Close();
        } else {
          c->Send(answer);
        }
      }
    };
  }
  std::string AllRequests() {
    std::string all;
    for (auto& c : peer_.connections()) all += c->received;
    return all;
  }

  ScriptedTcpServer peer_;
  std::unique_ptr<AsyncHttpsProxySocket> socket_;
  std::unique_ptr<SocketRecorder> events_;
  std::vector<std::string> answers_;
  std::map<ScriptedTcpServer::Connection*, size_t> served_;
  size_t next_ = 0;
};

TEST_F(HttpsProxyTest, BasicChallengeOnAKeptAliveConnectionThenTunnel) {
  Answer({"HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic "
          "realm=\"proxy\"\r\nProxy-Connection: Keep-Alive\r\nContent-Length: 5\r\n\r\nabcde",
          "HTTP/1.0 200 Connection established\r\n\r\nhello"});
  MakeSocket("alice", "s3cret");
  ASSERT_TRUE(RunUntil([&] { return events_->connects > 0 || events_->closes > 0; }));
  EXPECT_EQ(events_->connects, 1);
  ASSERT_EQ(peer_.connections().size(), 1u);  // the same connection carried both requests
  std::string requests = AllRequests();
  EXPECT_EQ(Count(requests, "CONNECT 10.0.0.1:5222 HTTP/1.0\r\n"), 2u);
  EXPECT_NE(requests.find("Host: 10.0.0.1\r\n"), std::string::npos);
  EXPECT_NE(requests.find("Proxy-Authorization: Basic " + B64("alice:s3cret") + "\r\n"),
            std::string::npos);
  // The payload that came with the 200 is readable at once.
  ASSERT_TRUE(RunUntil([&] { return events_->reads > 0; }));
  char buffer[16];
  int n = socket_->Recv(buffer, sizeof(buffer));
  ASSERT_EQ(n, 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(socket_->GetRemoteAddress(), SocketAddress(0x0A000001u, 5222));
}

TEST_F(HttpsProxyTest, SecondRejectionFailsWithAccessDenied) {
  const std::string challenge =
      "HTTP/1.1 407 Denied\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"
      "Proxy-Connection: Keep-Alive\r\nContent-Length: 0\r\n\r\n";
  Answer({challenge, challenge});
  MakeSocket("alice", "wrong");
  ASSERT_TRUE(RunUntil([&] { return events_->closes > 0; }));
  EXPECT_EQ(events_->close_error, kSocketAccessDenied);
  EXPECT_EQ(events_->connects, 0);
}

TEST_F(HttpsProxyTest, ProxyThatClosesAfter407IsReconnected) {
  Answer({"HTTP/1.0 407 Denied\r\nProxy-Authenticate: Basic realm=\"p\"\r\n\r\n", "<close>",
          "HTTP/1.0 200 OK\r\n\r\n"});
  // The scripted proxy closes its side after the first answer, as tinyproxy does.
  peer_.on_data = [this, inner = std::function<void(size_t, ScriptedTcpServer::Connection*)>()](
                      size_t index, ScriptedTcpServer::Connection* c) {
    if (index == 0 && next_ == 0) {
      next_ = 1;
      c->Send(answers_[0]);
      c->socket->Close();
    } else if (index == 1 && Count(c->received, "\r\n\r\n") == 1 && next_ == 1) {
      next_ = 3;
      c->Send(answers_[2]);
    }
  };
  MakeSocket("bob", "pw");
  ASSERT_TRUE(RunUntil([&] { return events_->connects > 0 || events_->closes > 0; }));
  EXPECT_EQ(events_->connects, 1);
  ASSERT_EQ(peer_.connections().size(), 2u);
  EXPECT_NE(peer_.connections()[1]->received.find("Proxy-Authorization: Basic "),
            std::string::npos);
}

TEST_F(HttpsProxyTest, FailureAnswersEndTheAttemptWithACloseEvent) {
  struct Case {
    const char* name;
    std::string answer;
    int error;
  } cases[] = {
      {"forbidden", "HTTP/1.0 403 Forbidden\r\nContent-Length: 0\r\n\r\n", 0},
      {"garbage leader", "SSH-2.0-nonsense\r\n", 0},
      {"hex length", "HTTP/1.0 407 x\r\nProxy-Authenticate: Basic r=1\r\nContent-Length: 0x10\r\n\r\n", 0},
      {"huge length", "HTTP/1.0 407 x\r\nProxy-Authenticate: Basic r=1\r\nContent-Length: 99999999999\r\n\r\n", 0},
      {"endless line", "HTTP/1.0 200 OK\r\nX-Filler: " + std::string(3000, 'f'), 0},
      {"endless headers", "HTTP/1.0 200 OK\r\n" + [] {
         std::string many;
         for (int i = 0; i < 4000; ++i) many += "X-H: v\r\n";
         return many;
       }(), 0},
      {"no credentials", "HTTP/1.0 407 x\r\nProxy-Authenticate: Basic r=1\r\n\r\n",
       kSocketAccessDenied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    next_ = 0;
    served_.clear();
    Answer({c.answer});
    MakeSocket(std::string(c.name) == "no credentials" ? "" : "u", "p");
    ASSERT_TRUE(RunUntil([&] { return events_->closes > 0 || events_->connects > 0; }));
    EXPECT_EQ(events_->connects, 0);
    EXPECT_EQ(events_->close_error, c.error);
  }
}

TEST_F(HttpsProxyTest, OnlyUnknownMechanismsAreReportedOncePerProcess) {
  int reports = 0;
  std::string text;
  AsyncHttpsProxySocket::SetIncompatibleProxyHandler(
      [&](const std::string& title, const std::string& body) {
        EXPECT_EQ(title, "Oops!");
        text = body;
        ++reports;
      });
  for (int round = 0; round < 2; ++round) {
    next_ = 0;
    served_.clear();
    Answer({"HTTP/1.0 407 x\r\nProxy-Authenticate: Kerberos-Fancy\r\nProxy-Authenticate: "
            "Bearer realm=\"x\"\r\n\r\n"});
    MakeSocket("u", "p");
    ASSERT_TRUE(RunUntil([&] { return events_->closes > 0; }));
    EXPECT_EQ(events_->close_error, 0);
  }
  AsyncHttpsProxySocket::SetIncompatibleProxyHandler(nullptr);
  // Once per process: no other test here offers only unusable mechanisms.
  EXPECT_EQ(reports, 1);
  EXPECT_NE(text.find("Information to submit to Ombrix: Kerberos-Fancy, Bearer"),
            std::string::npos);
}

TEST_F(HttpsProxyTest, PortEightyNeedsNoTunnel) {
  MakeSocket("", "", SocketAddress(0x0A000001u, 80));
  ASSERT_TRUE(RunUntil([&] { return events_->connects > 0; }));
  for (int i = 0; i < 5; ++i) ThreadRegistry::Current()->RunFor(2);
  EXPECT_EQ(AllRequests(), "");
  EXPECT_EQ(socket_->Send("GET / HTTP/1.0\r\n\r\n", 18), 18);
}

TEST(HttpAuthenticateTest, ChallengesParseIntoMechanismAndParameters) {
  HttpChallenge digest = ParseHttpChallenge(
      "Digest realm=\"a \\\"quoted\\\" realm\", nonce=abc123, qop=\"auth,auth-int\", "
      "realm=\"second\"");
  EXPECT_EQ(digest.mechanism, "Digest");
  EXPECT_EQ(digest.params["realm"], "a \"quoted\" realm");  // the first value wins
  EXPECT_EQ(digest.params["nonce"], "abc123");
  EXPECT_EQ(digest.params["qop"], "auth,auth-int");
  HttpChallenge ntlm = ParseHttpChallenge("NTLM TlRMTVNTUAACAAAAAAA=");
  EXPECT_EQ(ntlm.mechanism, "NTLM");
  EXPECT_EQ(ntlm.params[""], "TlRMTVNTUAACAAAAAAA=");
  EXPECT_EQ(ParseHttpChallenge("  Negotiate  ").params.size(), 0u);
}

TEST(HttpAuthenticateTest, DigestWithAndWithoutQop) {
  SecretText password = SecretText::FromClearText("Circle Of Life");
  std::unique_ptr<HttpAuthContext> context;
  std::string response, mechanism;
  ASSERT_EQ(HttpAuthenticate("Digest realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e\", "
                             "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"",
                             SocketAddress(), "GET", "/dir/index.html", "Mufasa", password,
                             &context, &response, &mechanism),
            AR_RESPONSE);
  // Without qop: response = MD5(HA1:nonce:HA2), and no qop, nc or cnonce.
  std::string ha1 = Md5Hex("Mufasa:testrealm@host.com:Circle Of Life");
  std::string ha2 = Md5Hex("GET:/dir/index.html");
  EXPECT_NE(response.find("response=\"" + Md5Hex(ha1 + ":dcd98b7102dd2f0e:" + ha2) + "\""),
            std::string::npos);
  EXPECT_EQ(response.find("qop="), std::string::npos);
  EXPECT_EQ(response.find("cnonce="), std::string::npos);
  EXPECT_NE(response.find(", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""), std::string::npos);
  // A second Digest challenge in the same exchange means the answer was refused.
  EXPECT_EQ(HttpAuthenticate("Digest realm=\"r\", nonce=\"n\"", SocketAddress(), "GET", "/",
                             "Mufasa", password, &context, &response, &mechanism),
            AR_CREDENTIALS);

  context.reset();
  ASSERT_EQ(HttpAuthenticate("Digest realm=\"r\", nonce=\"n\", qop=\"auth\"", SocketAddress(),
                             "CONNECT", "/", "u\"q", password, &context, &response, &mechanism),
            AR_RESPONSE);
  EXPECT_NE(response.find("username=\"u\\\"q\""), std::string::npos);
  EXPECT_NE(response.find(", qop=auth, nc=00000001, cnonce=\""), std::string::npos);
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(HttpAuthenticateTest, MechanismRules) {
  SecretText password = SecretText::FromClearText("pw");
  std::unique_ptr<HttpAuthContext> context;
  std::string response, mechanism;
  EXPECT_EQ(HttpAuthenticate("Basic realm=x", SocketAddress(), "CONNECT", "/", "", password,
                             &context, &response, &mechanism),
            AR_CREDENTIALS);  // no user name
  EXPECT_EQ(HttpAuthenticate("Bearer x", SocketAddress(), "CONNECT", "/", "u", password,
                             &context, &response, &mechanism),
            AR_IGNORE);
  ASSERT_EQ(HttpAuthenticate("basic realm=x", SocketAddress(), "CONNECT", "/", "u", password,
                             &context, &response, &mechanism),
            AR_RESPONSE);
  EXPECT_EQ(response, "basic " + B64("u:pw"));  // the mechanism as the proxy spelled it
  EXPECT_EQ(HttpAuthenticate("Digest realm=x", SocketAddress(), "CONNECT", "/", "u", password,
                             &context, &response, &mechanism),
            AR_IGNORE);  // an exchange has begun with another mechanism
}

// A SOCKS5 proxy socket aimed at a scripted proxy.
class Socks5Test : public ::testing::Test {
 protected:
  void MakeSocket(const std::string& user, const std::string& password,
                  const SocketAddress& destination) {
    socket_ = std::make_unique<AsyncSocks5ProxySocket>(
        CurrentHub()->CreateEventSocket(kStreamSocket), peer_.address(), user,
        SecretText::FromClearText(password));
    events_ = std::make_unique<SocketRecorder>(socket_.get());
    socket_->Connect(destination);
  }
  ScriptedTcpServer peer_;
  std::unique_ptr<AsyncSocks5ProxySocket> socket_;
  std::unique_ptr<SocketRecorder> events_;
};

TEST_F(Socks5Test, NamedDestinationWithUserPassword) {
  std::string expected_auth = std::string("\x01\x05") + "alice" + "\x03" + "pw!";
  std::string expected_connect = std::string("\x05\x01\x00\x03\x0ctalk.example\x14\x66", 19);
  peer_.on_data = [&](size_t, ScriptedTcpServer::Connection* c) {
    const std::string& in = c->received;
    if (in == std::string("\x05\x02\x00\x02", 4)) c->Send(std::string("\x05\x02", 2));
    if (in.size() == 4 + expected_auth.size()) c->Send(std::string("\x01\x00", 2));
    if (in.size() == 4 + expected_auth.size() + expected_connect.size()) {
      c->Send(std::string("\x05\x00\x00\x01\x7f\x00\x00\x01\x04\xd2", 10) + "early");
    }
  };
  MakeSocket("alice", "pw!", SocketAddress("talk.example", 5222, false));
  ASSERT_TRUE(RunUntil([&] { return events_->connects > 0 || events_->closes > 0; }))
      << ::testing::PrintToString(peer_.connections()[0]->received);
  EXPECT_EQ(events_->connects, 1);
  const std::string& sent = peer_.connections()[0]->received;
  EXPECT_EQ(sent.substr(4, expected_auth.size()), expected_auth);
  EXPECT_EQ(sent.substr(4 + expected_auth.size()), expected_connect);
  ASSERT_TRUE(RunUntil([&] { return events_->reads > 0; }));
  char buffer[8];
  ASSERT_EQ(socket_->Recv(buffer, sizeof(buffer)), 5);
  EXPECT_EQ(std::string(buffer, 5), "early");
}

TEST_F(Socks5Test, RefusalsAndOverlongFields) {
  struct Case {
    const char* name;
    std::string user;
    std::string reply_to_hello;
    std::string reply_to_auth;
    int event_error;
  } cases[] = {
      {"bad version", "", std::string("\x04\x00", 2), "", 0},
      {"no acceptable method", "", std::string("\x05\xff", 2), "", 0},
      {"auth refused", "u", std::string("\x05\x02", 2), std::string("\x01\x01", 2),
       kSocketAccessDenied},
      {"user too long", std::string(256, 'u'), std::string("\x05\x02", 2), "",
       kSocketInvalidArgument},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int step = 0;
    peer_.on_data = [&](size_t, ScriptedTcpServer::Connection* conn) {
      if (step == 0) {
        conn->Send(c.reply_to_hello);
      } else if (step == 1 && !c.reply_to_auth.empty()) {
        conn->Send(c.reply_to_auth);
      }
      ++step;
    };
    MakeSocket(c.user, "p", SocketAddress(0x0A000001u, 443));
    ASSERT_TRUE(RunUntil([&] { return events_->closes > 0; }));
    EXPECT_EQ(events_->close_error, c.event_error);
    EXPECT_EQ(socket_->GetError(), kSocketAccessDenied);
    EXPECT_EQ(events_->connects, 0);
  }
}

TEST(SslTcpAdapterTest, FixedHellosThenBytesPassUnchanged) {
  ScriptedTcpServer peer;
  peer.on_data = [&](size_t, ScriptedTcpServer::Connection* c) {
    if (c->received.size() == SslTcpAdapter::kClientHelloSize) {
      c->Send(std::string(reinterpret_cast<const char*>(SslTcpAdapter::kServerHello),
                          SslTcpAdapter::kServerHelloSize) +
              "<stream>");
    }
  };
  SslTcpAdapter adapter(CurrentHub()->CreateEventSocket(kStreamSocket));
  SocketRecorder events(&adapter);
  adapter.Connect(peer.address());
  ASSERT_TRUE(RunUntil([&] { return events.connects > 0 && events.reads > 0; }));
  EXPECT_EQ(peer.connections()[0]->received,
            std::string(reinterpret_cast<const char*>(SslTcpAdapter::kClientHello),
                        SslTcpAdapter::kClientHelloSize));
  char buffer[16];
  ASSERT_EQ(adapter.Recv(buffer, sizeof(buffer)), 8);
  EXPECT_EQ(std::string(buffer, 8), "<stream>");
}

TEST(SslTcpAdapterTest, WrongServerHelloClosesWithoutError) {
  ScriptedTcpServer peer;
  peer.on_data = [&](size_t, ScriptedTcpServer::Connection* c) {
    if (c->received.size() == SslTcpAdapter::kClientHelloSize) c->Send(std::string(79, 'x'));
  };
  SslTcpAdapter adapter(CurrentHub()->CreateEventSocket(kStreamSocket));
  SocketRecorder events(&adapter);
  adapter.Connect(peer.address());
  ASSERT_TRUE(RunUntil([&] { return events.closes > 0; }));
  EXPECT_EQ(events.close_error, 0);
  EXPECT_EQ(events.connects, 0);
}

}  // namespace
}  // namespace vexalo
