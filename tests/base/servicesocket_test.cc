#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/net/dnslookuptask.h"
#include "base/runtime/queuetaskrunner.h"
#include "base/net/socketerrors.h"
#include "base/net/ssltcpadapter.h"
#include "base/net/stackedservicesocket.h"
#include "support/scriptedtcpserver.h"
#include "support/tlstestpeer.h"
#include "base/tls/tlserrors.h"

namespace vexalo {
namespace {

// Counts what the service socket reports and reads everything it can.
class ServiceSocketWatcher : public SlotHost {
 public:
  explicit ServiceSocketWatcher(StackedServiceSocket* socket) : socket_(socket) {
    socket->Connected.Connect(this, [this] { events.push_back("connected"); });
    socket->TlsConnected.Connect(this, [this] { events.push_back("tls"); });
    socket->Closed.Connect(this, [this] { events.push_back("closed"); });
    socket->ProxyAuthenticationRequired.Connect(this, [this] { events.push_back("proxy-auth"); });
    socket->Readable.Connect(this, [this] {
      if (events.empty() || events.back() != "readable") events.push_back("readable");
      char buffer[512];
      size_t count = 0;
      while (socket_->Read(buffer, sizeof(buffer), &count) && count > 0) {
        received.append(buffer, count);
      }
    });
  }
  bool Saw(const std::string& event) const {
    for (const auto& e : events) {
      if (e == event) return true;
    }
    return false;
  }
  std::vector<std::string> events;
  std::string received;

 private:
  StackedServiceSocket* socket_;
};

TEST(StackedServiceSocketTest, StatesAndWrongStateErrors) {
  StackedServiceSocket socket(StackedServiceSocket::PROTO_TCP, ProxySettings(), "Vexalo/test");
  EXPECT_EQ(socket.GetState(), ServiceSocket::STATE_CLOSED);
  EXPECT_FALSE(socket.Write("x", 1));
  EXPECT_EQ(socket.GetError(), ServiceSocket::ERROR_WRONGSTATE);
  EXPECT_FALSE(socket.StartTls("example.org"));
  EXPECT_FALSE(socket.Close());
}

TEST(StackedServiceSocketTest, OutputWrittenWhileConnectingIsSentOnceOpen) {
  ScriptedTcpServer server;
  StackedServiceSocket socket(StackedServiceSocket::PROTO_TCP, ProxySettings(), "Vexalo/test");
  ServiceSocketWatcher watcher(&socket);
  ASSERT_TRUE(socket.Connect(server.address()));
  EXPECT_EQ(socket.GetState(), ServiceSocket::STATE_CONNECTING);
  EXPECT_FALSE(socket.Write("<stream>", 8));  // buffered, not sent yet
  ASSERT_TRUE(RunUntil([&] {
    return !server.connections().empty() && server.connections()[0]->received == "<stream>";
  }));
  EXPECT_EQ(socket.GetState(), ServiceSocket::STATE_OPEN);
  EXPECT_EQ(watcher.events.front(), "connected");
  EXPECT_TRUE(socket.Write("more", 4));
  ASSERT_TRUE(RunUntil([&] { return server.connections()[0]->received == "<stream>more"; }));
}

TEST(StackedServiceSocketTest, ServerClosingRightAfterSendingIsReadBeforeClosed) {
  ScriptedTcpServer server;
  std::string payload(3000, 'p');
  server.on_data = [&](size_t, ScriptedTcpServer::Connection* c) {
    c->Send(payload);
    c->socket->Close();
  };
  StackedServiceSocket socket(StackedServiceSocket::PROTO_TCP, ProxySettings(), "Vexalo/test");
  ServiceSocketWatcher watcher(&socket);
  socket.Connect(server.address());
  ASSERT_TRUE(RunUntil([&] { return socket.GetState() == ServiceSocket::STATE_OPEN; }));
  socket.Write("hi", 2);
  ASSERT_TRUE(RunUntil([&] { return watcher.Saw("closed"); }));
  EXPECT_EQ(watcher.received, payload);
  EXPECT_EQ(watcher.events, (std::vector<std::string>{"connected", "readable", "closed"}));
  EXPECT_EQ(socket.GetError(), ServiceSocket::ERROR_NONE);
  // A closed socket connects again with a fresh stack.
  EXPECT_TRUE(socket.Connect(server.address()));
  ASSERT_TRUE(RunUntil([&] { return socket.GetState() == ServiceSocket::STATE_OPEN; }));
}

TEST(StackedServiceSocketTest, RefusedConnectionIsClosedWithTheSocketError) {
  uint16_t dead_port;
  {
    std::unique_ptr<EventSocket> probe(CurrentHub()->CreateEventSocket(kStreamSocket));
    probe->Bind(Loopback());
    dead_port = probe->GetLocalAddress().port();
  }
  StackedServiceSocket socket(StackedServiceSocket::PROTO_TCP, ProxySettings(), "Vexalo/test");
  ServiceSocketWatcher watcher(&socket);
  socket.Connect(Loopback(dead_port));
  ASSERT_TRUE(RunUntil([&] { return watcher.Saw("closed"); }));
  EXPECT_EQ(socket.GetError(), ServiceSocket::ERROR_WINSOCK);
  EXPECT_EQ(socket.GetSocketError(), kSocketConnectionRefused);
}

TEST(StackedServiceSocketTest, RejectedProxyCredentialsAreSignalledBeforeClosed) {
  ScriptedTcpServer proxy;
  proxy.on_data = [](size_t, ScriptedTcpServer::Connection* c) {
    if (c->received.find("\r\n\r\n") != std::string::npos) {
      c->Send("HTTP/1.0 407 No\r\nProxy-Authenticate: Basic realm=\"x\"\r\n\r\n");
    }
  };
  ProxySettings settings;
  settings.type = PROXY_HTTPS;
  settings.address = proxy.address();
  StackedServiceSocket socket(StackedServiceSocket::PROTO_TCP, settings, "Vexalo/test");
  ServiceSocketWatcher watcher(&socket);
  socket.Connect(SocketAddress(0x0A000001u, 5222));
  ASSERT_TRUE(RunUntil([&] { return watcher.Saw("closed"); }));
  EXPECT_EQ(watcher.events, (std::vector<std::string>{"proxy-auth", "closed"}));
  EXPECT_EQ(socket.GetSocketError(), kSocketAccessDenied);
}

TEST(StackedServiceSocketTest, SslTcpFramingThenPlainBytes) {
  ScriptedTcpServer server;
  server.on_data = [](size_t, ScriptedTcpServer::Connection* c) {
    if (c->received.size() == SslTcpAdapter::kClientHelloSize) {
      c->Send(std::string(reinterpret_cast<const char*>(SslTcpAdapter::kServerHello),
                          SslTcpAdapter::kServerHelloSize));
    }
  };
  StackedServiceSocket socket(StackedServiceSocket::PROTO_SSLTCP, ProxySettings(), "Vexalo/test");
  ServiceSocketWatcher watcher(&socket);
  socket.Connect(server.address());
  ASSERT_TRUE(RunUntil([&] { return socket.GetState() == ServiceSocket::STATE_OPEN; }));
  socket.Write("<stream/>", 9);
  ASSERT_TRUE(RunUntil([&] {
    return server.connections()[0]->received.size() == SslTcpAdapter::kClientHelloSize + 9;
  }));
  EXPECT_EQ(server.connections()[0]->received.substr(SslTcpAdapter::kClientHelloSize), "<stream/>");
}

// STARTTLS on the service socket: plain bytes, then TLS on the same connection; what is
// written during the handshake goes out right after it.
TEST(StackedServiceSocketTest, StartTlsUpgradesAndSendsWhatWaitedDuringTheHandshake) {
  tlstest::TestPki pki;
  std::string plain, secure;
  std::atomic<bool> done{false};
  tlstest::TlsTestServer server(tlstest::ServerOptions{pki.Issue(tlstest::CertOptions{})},
                                [&](tlstest::ServerConnection& s) {
                                  plain = s.RawRead(9);
                                  s.RawWrite("<proceed/>");
                                  if (s.Handshake()) secure = s.Read(8);
                                  done = true;
                                });
  StackedServiceSocket socket(StackedServiceSocket::PROTO_TCP, ProxySettings(), "Vexalo/test");
  socket.SetCaFile(pki.ca_file());
  ServiceSocketWatcher watcher(&socket);
  socket.Readable.Connect(&watcher, [&] {
    if (watcher.received == "<proceed/>" && socket.GetState() == ServiceSocket::STATE_OPEN) {
      ASSERT_TRUE(socket.StartTls("localhost"));
      EXPECT_FALSE(socket.Write("<stream>", 8));  // waits for the handshake
    }
  });
  socket.Connect(Loopback(server.port()));
  ASSERT_TRUE(RunUntil([&] { return socket.GetState() == ServiceSocket::STATE_OPEN; }));
  socket.Write("starttls!", 9);
  ASSERT_TRUE(RunUntil([&] { return done.load(); }));
  EXPECT_EQ(plain, "starttls!");
  EXPECT_EQ(secure, "<stream>");
  EXPECT_TRUE(watcher.Saw("tls"));
}

TEST(StackedServiceSocketTest, UntrustedCertificateClosesWithTheTlsError) {
  tlstest::TestPki pki;
  tlstest::TlsTestServer server(tlstest::ServerOptions{pki.Issue(tlstest::CertOptions{})},
                                [](tlstest::ServerConnection& s) { s.Handshake(); });
  StackedServiceSocket socket(StackedServiceSocket::PROTO_TCP, ProxySettings(), "Vexalo/test");
  ServiceSocketWatcher watcher(&socket);  // the test CA is not trusted here
  socket.Connected.Connect(&watcher, [&] { socket.StartTls("localhost"); });
  socket.Connect(Loopback(server.port()));
  ASSERT_TRUE(RunUntil([&] { return watcher.Saw("closed"); }));
  EXPECT_EQ(socket.GetError(), ServiceSocket::ERROR_WINSOCK);
  EXPECT_EQ(static_cast<uint32_t>(socket.GetSocketError()), 0x80090325u);
}

// A runner whose clock the test sets.
struct VirtualClock {
  int64_t now = 0;
};

TEST(DNSLookupTaskTest, ResolvesOnceWithTheAddresses) {
  VirtualClock clock;
  QueueTaskRunner runner(nullptr, [&] { return clock.now; });
  auto* task = new DNSLookupTask(&runner, SocketAddress("localhost", 5222, false), 77);
  SlotHost host;
  int reports = 0;
  std::vector<uint32_t> got;
  int error = -1;
  task->Resolved.Connect(&host, [&](const std::vector<uint32_t>& addresses, uint16_t port,
                                    int e, uint32_t tag) {
    ++reports;
    got = addresses;
    error = e;
    EXPECT_EQ(port, 5222);
    EXPECT_EQ(tag, 77u);
  });
  task->Start();
  ASSERT_TRUE(RunUntil([&] { return reports > 0; }));
  EXPECT_EQ(error, 0);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front() >> 24, 127u);
}

TEST(DNSLookupTaskTest, NoAnswerWithinFiveSecondsIsReportedOnceAsNotFound) {
  VirtualClock clock;
  QueueTaskRunner runner(nullptr, [&] { return clock.now; });
  auto* task = new DNSLookupTask(&runner, SocketAddress("localhost", 80, false), 1);
  SlotHost host;
  std::vector<int> errors;
  task->Resolved.Connect(&host, [&](const std::vector<uint32_t>& addresses, uint16_t, int e,
                                    uint32_t) {
    errors.push_back(e);
    EXPECT_EQ(addresses.empty(), e != 0);
  });
  task->Start();
  runner.RunTasks();  // the lookup is under way; its answer waits in the queue
  clock.now += DNSLookupTask::kReportAfter100ns;
  runner.PollTasks();
  ASSERT_EQ(errors, (std::vector<int>{kSocketHostNotFound}));
  bool finished = false;
  ASSERT_TRUE(RunUntil([&] {
    finished = runner.task_count() == 0;
    return finished;
  }));
  EXPECT_EQ(errors.size(), 1u);  // the late answer is not reported again
}

}  // namespace
}  // namespace vexalo
