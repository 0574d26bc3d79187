// Proxy sockets against real proxies on 127.0.0.1: squid (Basic, Digest, none),
// tinyproxy (which closes after 407) and dante (SOCKS5 with and without user/password).
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "base/asynchttpsproxysocket.h"
#include "base/asyncsocks5proxysocket.h"
#include "base/logging.h"
#include "base/scriptedpeer.h"
#include "base/socketerrors.h"
#include "base/ssltcpadapter.h"
#include "peerprocess.h"

namespace vexalo {
namespace {

// An echo server behind the proxy.
class EchoServer {
 public:
  EchoServer() {
    peer_.on_data = [](size_t, ScriptedPeer::Connection* c) {
      c->Send(c->received);
      c->received.clear();
    };
  }
  SocketAddress address() const { return peer_.address(); }

 private:
  ScriptedPeer peer_;
};

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

std::string SquidConfig(const std::string& dir, uint16_t port, const std::string& auth) {
  std::string config =
      "http_port 127.0.0.1:" + std::to_string(port) + "\n"
      "pinger_enable off\n"
      "dns_nameservers 127.0.0.1\n"
      "udp_incoming_address 127.0.0.1\n"
      "cache deny all\n"
      "shutdown_lifetime 0 seconds\n"
      "cache_log " + dir + "/cache.log\n"
      "access_log none\n"
      "pid_filename " + dir + "/squid.pid\n"
      "coredump_dir " + dir + "\n" +
      auth;
  if (auth.empty()) {
    config += "http_access allow all\n";
  } else {
    config += "acl authed proxy_auth REQUIRED\nhttp_access allow authed\nhttp_access deny all\n";
  }
  return config;
}

// A proxy program in its own folder, listening on a free loopback port.
class ProxyPeer {
 public:
  bool started() const { return started_; }
  const std::string& error() const { return error_; }
  SocketAddress address() const { return SocketAddress(0x7F000001u, port_); }

 protected:
  ProxyPeer() : port_(FreeLoopbackPort()) {}
  void Run(const std::vector<std::string>& argv) {
    started_ = process_.Start(argv, port_, dir_.path() + "/out.log", &error_);
  }

  TempDir dir_;
  uint16_t port_;

 private:
  PeerProcess process_;
  bool started_ = false;
  std::string error_;
};

class SquidPeer : public ProxyPeer {
 public:
  // `scheme`: "", "basic" or "digest".
  explicit SquidPeer(const std::string& scheme) {
    const std::string& d = dir_.path();
    std::string auth;
    if (scheme == "basic") {
      RunCommand({"sh", "-c", "printf 'alice:%s\\n' \"$(openssl passwd -apr1 wonderland)\" > " +
                                  d + "/basic.passwd"});
      auth = "auth_param basic program /usr/lib/squid/basic_ncsa_auth " + d +
             "/basic.passwd\nauth_param basic realm vexalo\n";
    } else if (scheme == "digest") {
      dir_.Write("digest.passwd", "alice:wonderland\n");
      auth = "auth_param digest program /usr/lib/squid/digest_file_auth " + d +
             "/digest.passwd\nauth_param digest realm vexalo\n";
    }
    dir_.Write("squid.conf", SquidConfig(d, port_, auth));
    if (getuid() == 0) RunCommand({"chown", "-R", "proxy:proxy", d});
    Run({"squid", "-f", d + "/squid.conf", "-N"});
  }
};

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

class TinyproxyPeer : public ProxyPeer {
 public:
  TinyproxyPeer() {
    const std::string& d = dir_.path();
    dir_.Write("tinyproxy.conf",
               "Port " + std::to_string(port_) + "\nListen 127.0.0.1\nTimeout 30\n"
               "MaxClients 20\nAllow 127.0.0.1\nBasicAuth alice wonderland\n"
               "LogLevel Info\nUser nobody\nGroup nogroup\n");
    Run({"tinyproxy", "-d", "-c", d + "/tinyproxy.conf"});
  }
};

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

class DantePeer : public ProxyPeer {
 public:
  explicit DantePeer(bool with_password) {
    const std::string& d = dir_.path();
    std::string method = with_password ? "username" : "none";
    dir_.Write("danted.conf",
               "logoutput: " + d + "/danted.log\n"
               "internal: 127.0.0.1 port = " + std::to_string(port_) + "\n"
               "external: 127.0.0.1\n"
               "clientmethod: none\n"
               "socksmethod: " + method + "\n"
               "user.privileged: root\n"
               "user.unprivileged: nobody\n"
               "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
               "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n");
    Run({"danted", "-f", d + "/danted.conf", "-p", d + "/danted.pid"});
  }
};

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
