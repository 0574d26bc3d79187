// Signing in to a real Prosody: STARTTLS with the test certificate, SASL PLAIN, bind and
// session; refusals, certificate trouble and servers that go away mid-login; stanza tasks on
// a live stream.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/scriptedtcpserver.h"
#include "support/sockettestutil.h"
#include "base/net/stackedservicesocket.h"
#include "base/runtime/queuetaskrunner.h"
#include "base/tls/tlserrors.h"
#include "support/peers/prosodypeer.h"
#include "xmpp/stream/constants.h"
#include "xmpp/stream/stanzatask.h"
#include "xmpp/stream/xmppconnection.h"
#include "xmpp/stream/xmpptrafficlog.h"
#include "support/liveclient.h"

namespace vexalo {
namespace {

// Collects the stanzas of one kind that reach its level, and answers to one iq it sends.
class StanzaCatcher : public StanzaTask {
 public:
  StanzaCatcher(StepTaskParent* parent, const XmlName& name)
      : StanzaTask(parent, kLevelThird), name_(name) {}

  bool HandleStanza(const XmlElem& stanza) override {
    const bool answer = !request_id_.empty() && MatchResponseIq(stanza, kEmptyAddress, request_id_);
    if (stanza.Name() != name_ && !answer) return false;
    QueueStanza(stanza);
    return true;
  }
  int ProcessStart() override {
    while (const XmlElem* stanza = NextStanza()) caught.push_back(stanza->Name() == kQnIq
                                                                      ? "iq:" + stanza->GetAttribute(kQnType)
                                                                      : stanza->OnlyText().empty() ? stanza->ChildText(kQnBody) : stanza->OnlyText());
    return STATE_BLOCKED;
  }
  void Ping() {
    request_id_ = task_id();
    std::unique_ptr<XmlElem> iq = MakeIq(kStrGet, kEmptyAddress, request_id_);
    iq->AppendChild(std::make_unique<XmlElem>(XmlName("urn:xmpp:ping", "ping"), true));
    SendStanza(*iq);
  }
  void Send(const XmlElem& stanza) { SendStanza(stanza); }

  std::vector<std::string> caught;

 private:
  XmlName name_;
  std::string request_id_;
};

class PeerSignInTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prosody_ = new ProsodyPeer();
    prosody_->AddUser("alice", "wonderland");
    prosody_->AddUser("bob", "builder");
  }
  static void TearDownTestSuite() {
    delete prosody_;
    prosody_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(prosody_->started()) << prosody_->error(); }

  static ConnectionSettings Settings(const std::string& user, const std::string& password) {
    return LocalServerSettings(prosody_->port(), user, password);
  }

  QueueTaskRunner runner_;
  static ProsodyPeer* prosody_;
};
ProsodyPeer* PeerSignInTest::prosody_ = nullptr;

TEST_F(PeerSignInTest, SignsInOverStartTlsAndTalksThroughStanzaTasks) {
  LiveClient alice(&runner_, Settings("alice", "wonderland"), prosody_->certificate());
  LiveClient bob(&runner_, Settings("bob", "builder"), prosody_->certificate());
  ASSERT_TRUE(RunUntil([&] { return (alice.Open() || alice.Closed()) && (bob.Open() || bob.Closed()); }));
  ASSERT_TRUE(alice.Open()) << EngineErrorName(alice.error) << "\n" << alice.Traffic();
  ASSERT_TRUE(bob.Open()) << EngineErrorName(bob.error);
  EXPECT_EQ(alice.states.front(), EngineState::kOpening);
  EXPECT_EQ(alice.connection()->GetBoundAddress().ToString(), "alice@localhost/test");
  EXPECT_TRUE(alice.connection()->engine()->IsEncrypted());

  auto* pings = new StanzaCatcher(alice.connection(), kQnMessage);
  pings->Start();
  auto* inbox = new StanzaCatcher(bob.connection(), kQnMessage);
  inbox->Start();
  pings->Ping();
  ASSERT_TRUE(RunUntil([&] { return !pings->caught.empty(); }));
  EXPECT_EQ(pings->caught[0], "iq:result");

  XmlElem message(kQnMessage);
  message.AppendAttribute(kQnTo, "bob@localhost/test");
  message.AppendAttribute(kQnType, "chat");
  message.AppendChild(std::make_unique<XmlElem>(kQnBody))->AppendText("Can we fix it?");
  pings->Send(message);
  ASSERT_TRUE(RunUntil([&] { return !inbox->caught.empty(); }));
  EXPECT_EQ(inbox->caught[0], "Can we fix it?");

  // The traffic log kept the credentials and the chat out.
  EXPECT_EQ(alice.Traffic().find("d29uZGVybGFuZA"), std::string::npos);  // "wonderland"
  EXPECT_EQ(alice.Traffic().find("Can we fix it?"), std::string::npos);
  EXPECT_NE(alice.Traffic().find(XmppTrafficLog::kRemovedText), std::string::npos);

  // Ending the stream ends the connection and, with it, its services.
  alice.connection()->engine()->Disconnect();
  ASSERT_TRUE(RunUntil([&] { return alice.Closed(); }));
  EXPECT_EQ(alice.error, EngineError::kNone);
  ASSERT_TRUE(RunUntil([&] { return runner_.children().size() == 1; }));
}

// A server that offers no session step after binding: the bound stream is open at once and
// no session request is sent.
TEST(PeerSignInWithoutSessionTest, BoundStreamIsOpen) {
  ProsodyPeer prosody({"ombrix_nosession"});
  ASSERT_TRUE(prosody.started()) << prosody.error();
  prosody.AddUser("alice", "wonderland");
  QueueTaskRunner runner;
  LiveClient alice(&runner, LocalServerSettings(prosody.port(), "alice", "wonderland"),
                   prosody.certificate());
  ASSERT_TRUE(RunUntil([&] { return alice.Open() || alice.Closed(); }));
  ASSERT_TRUE(alice.Open()) << EngineErrorName(alice.error) << "\n" << alice.Traffic();
  EXPECT_EQ(alice.connection()->GetBoundAddress().ToString(), "alice@localhost/test");
  EXPECT_NE(alice.Traffic().find("xmpp-bind"), std::string::npos);
  EXPECT_EQ(alice.Traffic().find("xmpp-session"), std::string::npos);

  auto* pings = new StanzaCatcher(alice.connection(), kQnMessage);
  pings->Start();
  pings->Ping();
  ASSERT_TRUE(RunUntil([&] { return !pings->caught.empty(); }));
  EXPECT_EQ(pings->caught[0], "iq:result");
}

TEST_F(PeerSignInTest, WrongPasswordIsRejected) {
  LiveClient attempt(&runner_, Settings("alice", "not-it"), prosody_->certificate());
  ASSERT_TRUE(RunUntil([&] { return attempt.Closed(); }));
  EXPECT_EQ(attempt.error, EngineError::kAuthRejected) << EngineErrorName(attempt.error);
  EXPECT_EQ(attempt.states.size(), 2u);  // opening, closed: once each
}

TEST_F(PeerSignInTest, UntrustedCertificateEndsTheAttemptWithTheCertificateError) {
  LiveClient attempt(&runner_, Settings("alice", "wonderland"), "");
  ASSERT_TRUE(RunUntil([&] { return attempt.Closed(); }));
  EXPECT_EQ(attempt.error, EngineError::kTlsFailed) << EngineErrorName(attempt.error);
  EXPECT_EQ(attempt.socket_error, kSecUntrustedRoot) << TlsErrorName(attempt.socket_error);
  EXPECT_EQ(attempt.Traffic().find("<auth"), std::string::npos);
}

TEST_F(PeerSignInTest, ServerClosingMidLoginEndsTheAttempt) {
  // Header and features, then the server hangs up before answering STARTTLS.
  ScriptedTcpServer peer;
  bool features_sent = false;
  peer.on_data = [&](size_t, ScriptedTcpServer::Connection* c) {
    if (!features_sent && c->received.find("<stream:stream") != std::string::npos) {
      features_sent = true;
      c->Send("<stream:stream xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams' "
              "id='1' version='1.0'><stream:features><starttls "
              "xmlns='urn:ietf:params:xml:ns:xmpp-tls'/></stream:features>");
    } else if (c->received.find("<starttls") != std::string::npos) {
      c->socket->Close();
    }
  };
  ConnectionSettings settings = Settings("alice", "wonderland");
  settings.server = peer.address();
  LiveClient attempt(&runner_, settings, prosody_->certificate());
  ASSERT_TRUE(RunUntil([&] { return attempt.Closed(); }));
  EXPECT_EQ(attempt.error, EngineError::kConnectionClosed) << EngineErrorName(attempt.error);
}

TEST_F(PeerSignInTest, RefusedConnection) {
  ConnectionSettings settings = Settings("alice", "wonderland");
  settings.server = Loopback(FreeLoopbackPort());
  LiveClient attempt(&runner_, settings, prosody_->certificate());
  ASSERT_TRUE(RunUntil([&] { return attempt.Closed(); }));
  EXPECT_EQ(attempt.error, EngineError::kConnectionClosed);
  EXPECT_EQ(attempt.socket_error, 10061);
}

}  // namespace
}  // namespace vexalo
