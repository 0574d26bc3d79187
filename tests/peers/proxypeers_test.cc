// Proxy sockets against real proxies on 127.0.0.1: squid (Basic, Digest, none),
// tinyproxy (which closes after 407) and dante (SOCKS5 with and without user/password).
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "base/proxy/asynchttpsproxysocket.h"
#include "base/proxy/asyncsocks5proxysocket.h"
#include "base/runtime/logging.h"
#include "support/scriptedtcpserver.h"
#include "base/net/socketerrors.h"
#include "base/net/ssltcpadapter.h"
#include "support/peerprocess.h"
#include "support/peers/proxypeers.h"

namespace vexalo {
namespace {

// Connects `socket` to the echo server and checks that bytes make the round trip. Returns the
// close error when the proxy refuses, or -1 after a successful round trip.
int RoundTrip(EventSocket* socket, const SocketAddress& destination) {
  SocketRecorder events(socket);
  std::string echoed;
  events.on_read = [&](EventSocket* s) {
    char buffer[256];
    int n = s->Recv(buffer, sizeof(buffer));
    if (n > 0) echoed.append(buffer, n);
  };
  socket->Connect(destination);
  if (!RunUntil([&] { return events.connects > 0 || events.closes > 0; })) return -2;
  if (events.closes > 0) return events.close_error;
  socket->Send("through the proxy", 17);
  if (!RunUntil([&] { return echoed.size() >= 17 || events.closes > 0; })) return -3;
  return echoed == "through the proxy" ? -1 : -4;
}

AsyncHttpsProxySocket* HttpsProxy(const SocketAddress& proxy, const std::string& user,
                                  const std::string& password) {
  return new AsyncHttpsProxySocket(CurrentHub()->CreateEventSocket(kStreamSocket), "Vexalo/test",
                                   proxy, user, SecretText::FromClearText(password));
}

TEST(PeerSquidTest, TunnelsWithEachAuthenticationScheme) {
  if (getenv("VEXALO_TEST_LOG")) LogToDebug(kVerbose);
  EchoServer echo;
  struct Case {
    const char* scheme;
    const char* user;
    const char* password;
    int result;  // -1: the round trip worked; otherwise the close error
  } cases[] = {
      {"", "", "", -1},
      {"basic", "alice", "wonderland", -1},
      {"basic", "alice", "wrong", kSocketAccessDenied},
      {"basic", "", "", kSocketAccessDenied},
      {"digest", "alice", "wonderland", -1},
      {"digest", "alice", "wrong", kSocketAccessDenied},
      // NTLM is covered against a real NTLM acceptor in the unit tests: squid's only NTLM
      // helper without a domain controller answers with a malformed challenge.
  };
  std::string current;
  std::unique_ptr<SquidPeer> squid;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.scheme) + " " + c.user + "/" + c.password);
    if (!squid || current != c.scheme) {
      squid.reset();
      squid = std::make_unique<SquidPeer>(c.scheme);
      current = c.scheme;
      ASSERT_TRUE(squid->started()) << squid->error();
    }
    std::unique_ptr<EventSocket> socket(HttpsProxy(squid->address(), c.user, c.password));
    EXPECT_EQ(RoundTrip(socket.get(), echo.address()), c.result);
  }
}

TEST(PeerTinyproxyTest, ReconnectsAfterTheProxyClosesOn407) {
  if (getenv("VEXALO_TEST_LOG")) LogToDebug(kVerbose);
  TinyproxyPeer tinyproxy;
  ASSERT_TRUE(tinyproxy.started()) << tinyproxy.error();
  EchoServer echo;
  std::unique_ptr<EventSocket> good(HttpsProxy(tinyproxy.address(), "alice", "wonderland"));
  EXPECT_EQ(RoundTrip(good.get(), echo.address()), -1);
  std::unique_ptr<EventSocket> bad(HttpsProxy(tinyproxy.address(), "alice", "nope"));
  EXPECT_EQ(RoundTrip(bad.get(), echo.address()), kSocketAccessDenied);
}

AsyncSocks5ProxySocket* Socks5Proxy(const SocketAddress& proxy, const std::string& user,
                                    const std::string& password) {
  return new AsyncSocks5ProxySocket(CurrentHub()->CreateEventSocket(kStreamSocket), proxy, user,
                                    SecretText::FromClearText(password));
}

TEST(PeerDanteTest, TunnelsWithoutAuthentication) {
  DantePeer dante(false);
  ASSERT_TRUE(dante.started()) << dante.error();
  EchoServer echo;
  std::unique_ptr<EventSocket> socket(Socks5Proxy(dante.address(), "", ""));
  EXPECT_EQ(RoundTrip(socket.get(), echo.address()), -1);
  // A destination by name is resolved by the proxy.
  std::unique_ptr<EventSocket> named(Socks5Proxy(dante.address(), "", ""));
  EXPECT_EQ(RoundTrip(named.get(), SocketAddress("localhost", echo.address().port(), false)), -1);
}

TEST(PeerSquidTest, ResolvesADestinationGivenByName) {
  SquidPeer squid("");
  ASSERT_TRUE(squid.started()) << squid.error();
  EchoServer echo;
  std::unique_ptr<EventSocket> socket(HttpsProxy(squid.address(), "", ""));
  EXPECT_EQ(RoundTrip(socket.get(), SocketAddress("localhost", echo.address().port(), false)), -1);
}

// Our own far end of the "ssltcp" framing, relaying to the echo server.
TEST(PeerSslTcpRelayTest, FramedConnectionReachesTheBackend) {
  EchoServer echo;
  TempDir dir;
  uint16_t port = FreeLoopbackPort();
  PeerProcess relay;
  std::string error;
  ASSERT_TRUE(relay.Start({"python3", std::string(VEXALO_SOURCE_DIR) + "/tests/servers/ssltcprelay.py",
                           std::to_string(port), "127.0.0.1",
                           std::to_string(echo.address().port())},
                          port, dir.path() + "/relay.log", &error))
      << error;
  SslTcpAdapter socket(CurrentHub()->CreateEventSocket(kStreamSocket));
  EXPECT_EQ(RoundTrip(&socket, SocketAddress(0x7F000001u, port)), -1);
}

// dante checks user names against the system's password database: the test makes a user.
class SystemUser {
 public:
  SystemUser(const std::string& name, const std::string& password) : name_(name) {
    if (getuid() != 0) return;
    RunCommand({"userdel", name_});
    made_ = RunCommand({"useradd", "-M", "-s", "/usr/sbin/nologin", name_}) == 0 &&
            RunCommand({"sh", "-c", "echo '" + name_ + ":" + password + "' | chpasswd"}) == 0;
  }
  ~SystemUser() {
    if (made_) RunCommand({"userdel", name_});
  }
  bool made() const { return made_; }

 private:
  std::string name_;
  bool made_ = false;
};

TEST(PeerDanteTest, TunnelsWithUserAndPasswordAndRefusesWrongOnes) {
  SystemUser user("vexalosocks", "r4bbit-hole");
  if (!user.made()) GTEST_SKIP() << "needs root to make a system user for dante";
  DantePeer dante(true);
  ASSERT_TRUE(dante.started()) << dante.error();
  EchoServer echo;
  std::unique_ptr<EventSocket> good(Socks5Proxy(dante.address(), "vexalosocks", "r4bbit-hole"));
  EXPECT_EQ(RoundTrip(good.get(), echo.address()), -1);
  std::unique_ptr<EventSocket> bad(Socks5Proxy(dante.address(), "vexalosocks", "wrong"));
  EXPECT_EQ(RoundTrip(bad.get(), echo.address()), kSocketAccessDenied);
  EXPECT_EQ(bad->GetError(), kSocketAccessDenied);
}

}  // namespace
}  // namespace vexalo
