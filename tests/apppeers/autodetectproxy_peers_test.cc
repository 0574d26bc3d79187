// Proxy kind detection against real proxies on 127.0.0.1: squid answers the probe as an HTTP
// proxy, dante as a SOCKS5 proxy; a server that never answers and a closed port leave the
// kind unknown.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "app/linux/autodetectproxy.h"
#include "app/linux/proxydetect.h"
#include "base/runtime/logging.h"
#include "support/scriptedtcpserver.h"
#include "base/net/socketerrors.h"
#include "support/peers/proxypeers.h"
#include "support/logcapture.h"
#include "support/peerprocess.h"

namespace vexalo {
namespace {

struct Outcome {
  bool done = false;
  ProxySettings proxy;
};

// Runs a detection for the proxy at `address` (as a manually configured proxy, or, with
// `through_environment`, as the environment's http_proxy found on the worker thread).
Outcome Detect(const SocketAddress& address, bool through_environment) {
  ProxyOptions options;
  if (through_environment) {
    std::string value = "http://" + address.ToString();
    setenv("http_proxy", value.c_str(), 1);
    unsetenv("https_proxy");
    unsetenv("HTTPS_PROXY");
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");
    SetFirefoxDefaultBrowserOverride(false);
    options.autodetect = true;
  } else {
    options.autodetect = false;
    options.host = address.IPAsString();
    options.port = address.port();
  }
  Outcome outcome;
  SlotHost listener;
  auto* detector = new AutoDetectProxy(options, SocketAddress(0xC000020Au, 5222));
  detector->WorkDone.Connect(&listener, [&](SignalThread*) {
    outcome.done = true;
    outcome.proxy = detector->proxy();
  });
  detector->Start();
  // The silent case takes the 2 s probe time-out; allow a little more.
  for (int i = 0; i < 1000 && !outcome.done; ++i) ThreadRegistry::Current()->RunFor(5);
  detector->Destroy();
  ThreadRegistry::Current()->RunFor(10);
  if (through_environment) {
    unsetenv("http_proxy");
    SetFirefoxDefaultBrowserOverride(std::nullopt);
  }
  return outcome;
}

TEST(PeerAutoDetectProxyTest, SquidIsAnHttpProxy) {
  SquidPeer squid("");
  ASSERT_TRUE(squid.started()) << squid.error();
  for (bool through_environment : {false, true}) {
    LogCapture log;
    Outcome outcome = Detect(squid.address(), through_environment);
    ASSERT_TRUE(outcome.done) << through_environment;
    EXPECT_EQ(outcome.proxy.type, PROXY_HTTPS) << through_environment;
    EXPECT_EQ(outcome.proxy.address.ToString(), squid.address().ToString());
    EXPECT_TRUE(log.Contains("AutoDetectProxy probing type 1"));
  }
}

TEST(PeerAutoDetectProxyTest, DanteIsASocks5Proxy) {
  for (bool with_password : {false, true}) {
    DantePeer dante(with_password);
    ASSERT_TRUE(dante.started()) << dante.error();
    for (bool through_environment : {false, true}) {
      Outcome outcome = Detect(dante.address(), through_environment);
      ASSERT_TRUE(outcome.done) << with_password << through_environment;
      EXPECT_EQ(outcome.proxy.type, PROXY_SOCKS5) << with_password << through_environment;
      EXPECT_EQ(outcome.proxy.address.ToString(), dante.address().ToString());
    }
  }
}

TEST(PeerAutoDetectProxyTest, SilentServerTimesOut) {
  ScriptedTcpServer silent;  // accepts, reads, never answers
  LogCapture log;
  Outcome outcome = Detect(silent.address(), false);
  ASSERT_TRUE(outcome.done);
  EXPECT_EQ(outcome.proxy.type, PROXY_UNKNOWN);
  EXPECT_TRUE(log.Contains("AutoDetectProxy Closed with error: 10060"));
  EXPECT_TRUE(log.Contains("AutoDetectProxy could not determine proxy type"));
  ASSERT_EQ(silent.connections().size(), 1u);
  EXPECT_EQ(silent.connections()[0]->received, AutoDetectProxy::ProbeMessage(PROXY_HTTPS));
}

TEST(PeerAutoDetectProxyTest, RefusedPortClosesWithError) {
  SocketAddress closed(0x7F000001u, FreeLoopbackPort());
  LogCapture log;
  Outcome outcome = Detect(closed, false);
  ASSERT_TRUE(outcome.done);
  EXPECT_EQ(outcome.proxy.type, PROXY_UNKNOWN);
  EXPECT_TRUE(log.Contains("AutoDetectProxy Closed with error: " +
                           std::to_string(kSocketConnectionRefused)));
  EXPECT_TRUE(log.Contains("AutoDetectProxy could not determine proxy type"));
  EXPECT_FALSE(log.Contains("AutoDetectProxy probing type"));
}

}  // namespace
}  // namespace vexalo
