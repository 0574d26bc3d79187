#include "app/linux/autodetectproxy.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

#include "app/linux/proxydetect.h"
#include "base/runtime/logging.h"
#include "support/scriptedtcpserver.h"
#include "support/logcapture.h"

namespace vexalo {
namespace {

// Runs one detection to its WorkDone and keeps the answer.
class Detection : public SlotHost {
 public:
  Detection(const ProxyOptions& options, const SocketAddress& server)
      : detector_(new AutoDetectProxy(options, server)) {
    detector_->WorkDone.Connect(this, [this](SignalThread*) {
      ++done_count_;
      result_ = detector_->proxy();
    });
  }
  ~Detection() override {
    detector_->Destroy();
    // Let the posted destruction run.
    ThreadRegistry::Current()->RunFor(10);
  }
  AutoDetectProxy* detector() { return detector_; }
  bool Run() {
    detector_->Start();
    return RunUntil([this] { return done_count_ > 0; });
  }
  int done_count() const { return done_count_; }
  const ProxySettings& result() const { return result_; }

 private:
  AutoDetectProxy* detector_;
  int done_count_ = 0;
  ProxySettings result_;
};

ProxyOptions ManualProxy(const SocketAddress& proxy) {
  ProxyOptions options;
  options.autodetect = false;
  options.host = proxy.IPAsString();
  options.port = proxy.port();
  return options;
}

const SocketAddress kServer(0xC000020Au, 5222);  // 192.0.2.10

TEST(AutoDetectProxyTest, ProbeMessagesSpeakToBothKinds) {
  std::string https = AutoDetectProxy::ProbeMessage(PROXY_HTTPS);
  EXPECT_EQ(https, std::string("\x05\x01", 2) +
                       "CONNECT www.ombrix.com:443 HTTP/1.0\r\n"
                       "User-Agent: Vexalo\r\n"
                       "Host: www.ombrix.com\r\n"
                       "Content-Length: 0\r\n"
                       "Proxy-Connection: Keep-Alive\r\n"
                       "\r\n");
  EXPECT_EQ(AutoDetectProxy::ProbeMessage(PROXY_SOCKS5), std::string("\x05\x01\x00", 3));
}

TEST(AutoDetectProxyTest, ConstructionFromOptions) {
  ProxyOptions detect;
  detect.host = "ignored.test";
  detect.port = 3128;
  Detection a(detect, SocketAddress("talk.example.test", 5222, false));
  EXPECT_EQ(a.detector()->target_url(), "https://talk.example.test:5222/");
  EXPECT_EQ(a.detector()->proxy().type, PROXY_NONE);

  ProxyOptions manual;
  manual.autodetect = false;
  manual.host = "proxy.example.test";
  manual.port = 8080;
  manual.use_auth = true;
  manual.username = "alice";
  manual.password = SecretText::FromClearText("wonderland");
  Detection b(manual, kServer);
  EXPECT_TRUE(b.detector()->target_url().empty());
  EXPECT_EQ(b.detector()->proxy().type, PROXY_UNKNOWN);
  // Named, not resolved: the owner's thread never waits for DNS.
  EXPECT_TRUE(b.detector()->proxy().address.IsUnresolved());
  EXPECT_EQ(b.detector()->proxy().address.ToString(), "proxy.example.test:8080");
  EXPECT_EQ(b.detector()->proxy().username, "alice");
  EXPECT_EQ(b.detector()->proxy().password.GetLength(), 10u);

  manual.use_auth = false;
  Detection c(manual, kServer);
  EXPECT_TRUE(c.detector()->proxy().username.empty());
  EXPECT_TRUE(c.detector()->proxy().password.empty());
}

TEST(AutoDetectProxyTest, NoProxyReportsAtOnce) {
  ProxyOptions options;
  options.autodetect = false;
  Detection detection(options, kServer);
  detection.detector()->Start();
  EXPECT_EQ(detection.done_count(), 1);
  EXPECT_EQ(detection.result().type, PROXY_NONE);
}

// What a scripted proxy answers to the probe, and what the detection makes of it.
TEST(AutoDetectProxyTest, ProbeAnswers) {
  struct Case {
    const char* name;
    std::vector<std::string> replies;  // sent one by one, each after the probe arrived
    bool close_after;
    ProxyType type;
    const char* log;
  } cases[] = {
      {"HTTP proxy", {"HTTP/1.1 400 Bad Request\r\n\r\n"}, false, PROXY_HTTPS, nullptr},
      {"HTTP status line in pieces", {"HT", "TP/1.0 200 OK\r\n\r\n"}, false, PROXY_HTTPS, nullptr},
      {"SOCKS5 refusing the method", {std::string("\x05\xFF", 2)}, false, PROXY_SOCKS5, nullptr},
      {"SOCKS5 in pieces",
       {std::string("\x05", 1), std::string("\xFF", 1)},
       false,
       PROXY_SOCKS5,
       nullptr},
      {"something else",
       {"SSH-2.0-OpenSSH\r\n"},
       false,
       PROXY_UNKNOWN,
       "AutoDetectProxy could not determine proxy type"},
      {"closes without a word", {}, true, PROXY_UNKNOWN, "AutoDetectProxy Closed with error: "},
      {"a flood of something else",
       {std::string(100000, 'H')},
       false,
       PROXY_UNKNOWN,
       "AutoDetectProxy could not determine proxy type"},
  };
  const std::string probe = AutoDetectProxy::ProbeMessage(PROXY_HTTPS);
  for (const Case& c : cases) {
    ScriptedTcpServer peer;
    size_t next = 0;
    peer.on_data = [&](size_t, ScriptedTcpServer::Connection* conn) {
      if (conn->received.size() < probe.size()) return;
      if (next < c.replies.size()) conn->Send(c.replies[next++]);
      if (c.close_after) conn->socket->Close();
    };
    LogCapture log;
    Detection detection(ManualProxy(peer.address()), kServer);
    // Later pieces go out one loop turn after the earlier ones.
    detection.detector()->Start();
    for (int turn = 0; turn < 200 && detection.done_count() == 0; ++turn) {
      ThreadRegistry::Current()->RunFor(5);
      if (next > 0 && next < c.replies.size()) peer.connections()[0]->Send(c.replies[next++]);
    }
    ASSERT_TRUE(RunUntil([&] { return detection.done_count() > 0; })) << c.name;
    EXPECT_EQ(detection.done_count(), 1) << c.name;
    EXPECT_EQ(detection.result().type, c.type) << c.name;
    ASSERT_FALSE(peer.connections().empty()) << c.name;
    EXPECT_EQ(peer.connections()[0]->received, probe) << c.name;
    EXPECT_TRUE(log.Contains("AutoDetectProxy probing type 1")) << c.name;
    if (c.log) {
      EXPECT_TRUE(log.Contains(c.log)) << c.name;
    }
  }
}

TEST(AutoDetectProxyTest, HttpPrefixIsRemovedFromTheHost) {
  ScriptedTcpServer peer;
  peer.on_data = [](size_t, ScriptedTcpServer::Connection* c) { c->Send("HTTP/1.0 200 OK\r\n\r\n"); };
  ProxyOptions options = ManualProxy(peer.address());
  options.host = "http://127.0.0.1";
  LogCapture log;
  Detection detection(options, kServer);
  ASSERT_TRUE(detection.Run());
  EXPECT_TRUE(log.Contains("AutoDetectProxy removing http prefix on proxy host"));
  EXPECT_EQ(detection.result().type, PROXY_HTTPS);
  EXPECT_EQ(detection.result().address.ToString(), peer.address().ToString());
}

TEST(AutoDetectProxyTest, DetectsTheEnvironmentProxyOnTheWorker) {
  ScriptedTcpServer peer;
  peer.on_data = [](size_t, ScriptedTcpServer::Connection* c) { c->Send(std::string("\x05\xFF", 2)); };
  std::string value = "http://" + peer.address().ToString();
  const char* old = getenv("http_proxy");
  std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  setenv("http_proxy", value.c_str(), 1);
  unsetenv("https_proxy");
  unsetenv("HTTPS_PROXY");
  unsetenv("no_proxy");
  unsetenv("NO_PROXY");
  SetFirefoxDefaultBrowserOverride(false);

  ProxyOptions options;
  options.autodetect = true;
  Detection detection(options, kServer);
  ASSERT_TRUE(detection.Run());
  EXPECT_EQ(detection.result().type, PROXY_SOCKS5);
  EXPECT_EQ(detection.result().address.ToString(), peer.address().ToString());

  SetFirefoxDefaultBrowserOverride(std::nullopt);
  if (saved) {
    setenv("http_proxy", saved->c_str(), 1);
  } else {
    unsetenv("http_proxy");
  }
}

TEST(AutoDetectProxyTest, DestroyDuringTheProbeReportsNothing) {
  ScriptedTcpServer silent;  // accepts and never answers
  int done = 0;
  auto* detector = new AutoDetectProxy(ManualProxy(silent.address()), kServer);
  SlotHost listener;
  detector->WorkDone.Connect(&listener, [&done](SignalThread*) { ++done; });
  detector->Start();
  ASSERT_TRUE(RunUntil([&] { return !silent.connections().empty(); }));
  detector->Destroy();
  ThreadRegistry::Current()->RunFor(100);
  EXPECT_EQ(done, 0);
}

}  // namespace
}  // namespace vexalo
