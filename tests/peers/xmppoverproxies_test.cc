// The whole transport under the XMPP connection on real traffic: a real Prosody reached
// directly, through squid, through dante and through our "ssltcp" far end, with the stream
// switched to TLS midway (STARTTLS) and the server's SASL offer read over TLS.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/net/stackedservicesocket.h"
#include "support/peerprocess.h"
#include "support/peers/prosodypeer.h"
#include "support/peers/proxypeers.h"

namespace vexalo {
namespace {

const char kStreamHeader[] =
    "<?xml version='1.0'?><stream:stream to='localhost' xmlns='jabber:client' "
    "xmlns:stream='http://etherx.jabber.org/streams' version='1.0'>";

// Drives a service socket through the opening of an XMPP stream and STARTTLS; true once the
// server's features arrived over TLS. `log` collects what happened, for failure messages.
bool StartTlsThrough(StackedServiceSocket* socket, const SocketAddress& server, std::string* log) {
  SlotHost host;
  std::string in;
  enum { kPlain, kProceedAsked, kSecure } phase = kPlain;
  bool secure_features = false;
  socket->Connected.Connect(&host, [&] { socket->Write(kStreamHeader, sizeof(kStreamHeader) - 1); });
  socket->TlsConnected.Connect(&host, [&] {
    in.clear();
    socket->Write(kStreamHeader, sizeof(kStreamHeader) - 1);
  });
  socket->Readable.Connect(&host, [&] {
    char buffer[4096];
    size_t count = 0;
    while (socket->Read(buffer, sizeof(buffer), &count) && count > 0) in.append(buffer, count);
    if (phase == kPlain && in.find("</stream:features>") != std::string::npos) {
      *log += "plain features; ";
      if (in.find("<starttls") == std::string::npos) return;
      static const char kStartTls[] = "<starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>";
      socket->Write(kStartTls, sizeof(kStartTls) - 1);
      phase = kProceedAsked;
      in.clear();
    } else if (phase == kProceedAsked && in.find("<proceed") != std::string::npos) {
      *log += "proceed; ";
      phase = kSecure;
      socket->StartTls("localhost");
    } else if (phase == kSecure && in.find("</stream:features>") != std::string::npos) {
      secure_features = in.find("<mechanism>PLAIN</mechanism>") != std::string::npos;
      *log += "secure features; ";
    }
  });
  socket->Closed.Connect(&host, [&] {
    *log += "closed error " + std::to_string(socket->GetError()) + "/" +
            std::to_string(socket->GetSocketError()) + "; ";
  });
  if (!socket->Connect(server)) return false;
  RunUntil([&] { return secure_features || socket->GetState() == ServiceSocket::STATE_CLOSED; });
  return secure_features;
}

class PeerXmppTransportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { prosody_ = new ProsodyPeer(); }
  static void TearDownTestSuite() {
    delete prosody_;
    prosody_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(prosody_->started()) << prosody_->error(); }

  bool Run(StackedServiceSocket::Protocol protocol, const ProxySettings& proxy,
           const SocketAddress& server, std::string* log) {
    StackedServiceSocket socket(protocol, proxy, "Vexalo/test");
    socket.SetCaFile(prosody_->certificate());
    return StartTlsThrough(&socket, server, log);
  }
  SocketAddress Prosody() const { return SocketAddress(0x7F000001u, prosody_->port()); }

  static ProsodyPeer* prosody_;
};
ProsodyPeer* PeerXmppTransportTest::prosody_ = nullptr;

TEST_F(PeerXmppTransportTest, Direct) {
  std::string log;
  EXPECT_TRUE(Run(StackedServiceSocket::PROTO_TCP, ProxySettings(), Prosody(), &log)) << log;
}

TEST_F(PeerXmppTransportTest, ThroughAnHttpProxyWithBasicAuthentication) {
  SquidPeer squid("basic");
  ASSERT_TRUE(squid.started()) << squid.error();
  const ProxySettings proxy = squid.Settings();
  std::string log;
  EXPECT_TRUE(Run(StackedServiceSocket::PROTO_TCP, proxy, Prosody(), &log)) << log;
}

TEST_F(PeerXmppTransportTest, ThroughSocks5WithTheServerGivenByName) {
  DantePeer dante(false);
  ASSERT_TRUE(dante.started()) << dante.error();
  const ProxySettings proxy = dante.Settings();
  std::string log;
  EXPECT_TRUE(Run(StackedServiceSocket::PROTO_TCP, proxy,
                  SocketAddress("localhost", prosody_->port(), false), &log))
      << log;
}

TEST_F(PeerXmppTransportTest, ThroughTheSslTcpFraming) {
  TempDir dir;
  uint16_t port = FreeLoopbackPort();
  PeerProcess relay;
  std::string error;
  ASSERT_TRUE(relay.Start({"python3", std::string(VEXALO_SOURCE_DIR) + "/tests/servers/ssltcprelay.py",
                           std::to_string(port), "127.0.0.1", std::to_string(prosody_->port())},
                          port, dir.path() + "/relay.log", &error))
      << error;
  std::string log;
  EXPECT_TRUE(Run(StackedServiceSocket::PROTO_SSLTCP, ProxySettings(),
                  SocketAddress(0x7F000001u, port), &log))
      << log;
}

}  // namespace
}  // namespace vexalo
