// Negotiate proxy authentication with Kerberos: a private realm served by a real KDC on
// 127.0.0.1, and squid whose helper checks the tickets against the keytab of HTTP/localhost.
// The proxy is reached by the name "localhost", which is the service the client asks for.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/http/asynchttprequest.h"
#include "base/proxy/asynchttpsproxysocket.h"
#include "base/runtime/logging.h"
#include "base/runtime/loopthread.h"
#include "base/net/socketerrors.h"
#include "base/runtime/threadregistry.h"
#include "support/peers/kdcpeer.h"
#include "support/peers/nginxpeer.h"
#include "support/peers/proxypeers.h"

namespace vexalo {
namespace {

// Connects through the proxy to the echo server and checks the bytes' round trip: -1 when it
// worked, the close error when the proxy was not passed, or below -1 when nothing happened.
int RoundTrip(const SocketAddress& proxy, const std::string& user, const std::string& password,
              const SocketAddress& destination) {
  AsyncHttpsProxySocket socket(CurrentHub()->CreateEventSocket(kStreamSocket), "Vexalo/test",
                               proxy, user, SecretText::FromClearText(password));
  SocketRecorder events(&socket);
  std::string echoed;
  events.on_read = [&](EventSocket* s) {
    char buffer[256];
    int n = s->Recv(buffer, sizeof(buffer));
    if (n > 0) echoed.append(buffer, n);
  };
  socket.Connect(destination);
  if (!RunUntil([&] { return events.connects > 0 || events.closes > 0; })) return -2;
  if (events.closes > 0) return events.close_error;
  socket.Send("through the proxy", 17);
  if (!RunUntil([&] { return echoed.size() >= 17 || events.closes > 0; })) return -3;
  return echoed == "through the proxy" ? -1 : -4;
}

// One request in squid's access log ("vexalo" format).
struct Logged {
  std::string client_port;
  std::string outcome;  // e.g. "TCP_DENIED/407", "TCP_TUNNEL/200"
  std::string method;
  std::string user;     // "-" when none was authenticated
};

std::vector<Logged> ParseAccessLog(const std::string& text) {
  std::vector<Logged> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Logged entry;
    std::string url;
    if (fields >> entry.client_port >> entry.outcome >> entry.method >> url >> entry.user) {
      lines.push_back(entry);
    }
  }
  return lines;
}

class Owner : public MessageTarget {
 public:
  void HandleMessage(QueuedMessage* msg) override {
    done = true;
    delete msg->payload;
  }
  bool done = false;
};

class PeerNegotiateKerberosTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (getenv("VEXALO_TEST_LOG")) LogToDebug(kVerbose);
    kdc_ = std::make_unique<KdcPeer>("localhost");
    ASSERT_TRUE(kdc_->started()) << kdc_->error();
  }

  // Squid checking tickets with the realm's keytab. Its helper accepts every mechanism of this
  // machine's GSSAPI (which includes NTLM) unless `kerberos_only`, as on a proxy without NTLM.
  std::unique_ptr<SquidPeer> StartSquid(bool kerberos_only) {
    const char* old = getenv("GSS_MECH_CONFIG");
    std::string saved = old ? old : "";
    if (kerberos_only) setenv("GSS_MECH_CONFIG", no_mechanisms_.Write("none", "").c_str(), 1);
    auto squid = std::make_unique<SquidPeer>("negotiate", kdc_->keytab());
    if (kerberos_only) {
      if (old) {
        setenv("GSS_MECH_CONFIG", saved.c_str(), 1);
      } else {
        unsetenv("GSS_MECH_CONFIG");
      }
    }
    return squid;
  }

  // The proxy as users configure it: by host name, the name its service principal carries.
  static SocketAddress ByName(const SquidPeer& squid) {
    return SocketAddress("localhost", squid.address().port(), false);
  }

  // Waits until squid has logged `count` requests of the test user (a CONNECT is logged when
  // its tunnel closes).
  std::vector<Logged> WaitForUser(const SquidPeer& squid, size_t count) {
    std::vector<Logged> log;
    for (int i = 0; i < 100; ++i) {
      log = ParseAccessLog(squid.access_log());
      size_t found = 0;
      for (const Logged& entry : log) found += entry.user == kdc_->user_principal();
      if (found >= count) break;
      usleep(50 * 1000);
    }
    return log;
  }

  std::unique_ptr<KdcPeer> kdc_;  // outlives the proxies, whose helper reads its files
  TempDir no_mechanisms_;
};

TEST_F(PeerNegotiateKerberosTest, TunnelsWithTicketsOrPasswordAndRefusesTheRest) {
  EchoServer echo;
  const std::string principal = kdc_->user_principal();
  struct Case {
    const char* name;
    bool kinit;    // a ticket in the default cache
    bool by_name;  // the proxy reached as "localhost" (else as 127.0.0.1)
    std::string user;
    const char* password;
    int result;    // -1: the round trip worked; otherwise the close error
    // When it worked: the 407s squid had sent on the connection that became the tunnel. The
    // answer to a challenge goes on the challenged connection; an exchange started over
    // after a refusal goes on a new one.
    int challenges;
  } cases[] = {
      {"ticket from kinit", true, true, "", "", -1, 1},
      {"password, short name", false, true, "alice", "wonderland", -1, 1},
      {"password, full principal", false, true, principal, "wonderland", -1, 1},
      {"wrong password", false, true, "alice", "wrong", kSocketAccessDenied, 0},
      {"unknown user", false, true, "mallory", "wonderland", kSocketAccessDenied, 0},
      // Refused configured credentials give way to the user's own ticket.
      {"wrong password, ticket in the cache", true, true, "alice", "wrong", -1, 0},
      // No ticket and no password: nothing can answer the challenge.
      {"no credentials", false, true, "", "", 0, 0},
      // The realm knows no HTTP/127.0.0.1: Negotiate cannot be used with the proxy's address.
      {"ticket, proxy by address", true, false, "", "", 0, 0},
  };
  for (bool kerberos_only : {false, true}) {
    SCOPED_TRACE(kerberos_only ? "Kerberos-only proxy" : "proxy that also knows NTLM");
    std::unique_ptr<SquidPeer> squid = StartSquid(kerberos_only);
    ASSERT_TRUE(squid->started()) << squid->error();
    size_t passed = 0;
    int cache = 0;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      kdc_->UseCache("cache" + std::to_string(++cache) + (kerberos_only ? "k" : ""));
      if (c.kinit) {
        ASSERT_TRUE(kdc_->Kinit(principal, KdcPeer::kPassword)) << kdc_->log();
      }
      SocketAddress proxy = c.by_name ? ByName(*squid) : squid->address();
      EXPECT_EQ(RoundTrip(proxy, c.user, c.password, echo.address()), c.result) << kdc_->log();
      if (c.result != -1) continue;
      // The tunnel is logged, with the user squid authenticated, once it has closed.
      std::vector<Logged> log = WaitForUser(*squid, ++passed);
      auto tunnel = std::find_if(log.rbegin(), log.rend(), [](const Logged& entry) {
        return entry.outcome == "TCP_TUNNEL/200";
      });
      ASSERT_NE(tunnel, log.rend()) << squid->access_log();
      EXPECT_EQ(tunnel->user, principal) << squid->access_log();
      int challenges = 0;
      for (const Logged& entry : log) {
        challenges += entry.client_port == tunnel->client_port && entry.outcome == "TCP_DENIED/407";
      }
      EXPECT_EQ(challenges, c.challenges) << squid->access_log();
    }
    // Nothing else got through.
    size_t tunnels = 0;
    for (const Logged& entry : ParseAccessLog(squid->access_log())) {
      tunnels += entry.outcome == "TCP_TUNNEL/200";
    }
    EXPECT_EQ(tunnels, passed) << squid->access_log();
  }
}

// The background request answers the proxy's Negotiate challenge to a plain GET (the proxy
// fetches the page) with the same exchange.
TEST_F(PeerNegotiateKerberosTest, BackgroundRequestAuthenticatesAGetWithATicketOrPassword) {
  NginxPeer nginx;
  ASSERT_TRUE(nginx.started()) << nginx.error();
  std::unique_ptr<SquidPeer> squid = StartSquid(false);
  ASSERT_TRUE(squid->started()) << squid->error();
  struct Case {
    const char* name;
    bool kinit;
    const char* user;
    const char* password;
    int status;
  } cases[] = {
      {"ticket from kinit", true, "", "", 200},
      {"password", false, "alice", "wonderland", 200},
      {"wrong password", false, "alice", "wrong", 407},
      {"no credentials", false, "", "", 407},
  };
  size_t passed = 0;
  int cache = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kdc_->UseCache("get-cache" + std::to_string(++cache));
    if (c.kinit) {
      ASSERT_TRUE(kdc_->Kinit(kdc_->user_principal(), KdcPeer::kPassword)) << kdc_->log();
    }
    Owner owner;
    auto* job = new AsyncHttpRequest(&owner, 1);
    AsyncHttpRequest::Params& p = job->params();
    p.proxy.type = PROXY_HTTPS;
    p.proxy.address = ByName(*squid);
    p.proxy.username = c.user;
    p.proxy.password = SecretText::FromClearText(c.password);
    p.host = "127.0.0.1";
    p.port = nginx.http_port();
    p.path = "/small.txt";
    p.user_agent = "Vexalo/test";
    p.timeout_ms = 10000;
    job->Start();
    LoopThread* self = ThreadRegistry::Current();
    for (int i = 0; i < 1200 && !owner.done; ++i) self->RunFor(10);
    ASSERT_TRUE(owner.done);
    EXPECT_EQ(job->result().outcome, AsyncHttpRequest::Outcome::kCompleted);
    EXPECT_EQ(job->result().status, c.status);
    if (c.status == 200) {
      ++passed;
      ASSERT_TRUE(job->result().response);
      EXPECT_EQ(job->result().response->data(), nginx.small());
    }
    job->Release();
  }
  // Every page the proxy fetched was fetched for the authenticated user.
  size_t fetched = 0;
  for (const Logged& entry : WaitForUser(*squid, passed)) {
    if (entry.method != "GET" || entry.outcome.find("/200") == std::string::npos) continue;
    ++fetched;
    EXPECT_EQ(entry.user, kdc_->user_principal()) << squid->access_log();
  }
  EXPECT_EQ(fetched, passed) << squid->access_log();
}

}  // namespace
}  // namespace vexalo
