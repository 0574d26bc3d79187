#include "xmpp/stream/loginsequence.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xmpp/stream/constants.h"
#include "xmpp/stream/plainmechanismchooser.h"
#include "xmpp/stream/saslcredentialmechanism.h"

namespace vexalo {
namespace {

std::string ServerHeader(std::string_view id) {
  return "<stream:stream xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams' "
         "from='example.net' id='" +
         std::string(id) + "' version='1.0'>";
}
constexpr std::string_view kStartTlsFeature =
    "<starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>";
constexpr std::string_view kPlainFeature =
    "<mechanisms xmlns='urn:ietf:params:xml:ns:xmpp-sasl'><mechanism>SCRAM-SHA-1</mechanism>"
    "<mechanism>PLAIN</mechanism></mechanisms>";
constexpr std::string_view kBindFeatures =
    "<bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'/>"
    "<session xmlns='urn:ietf:params:xml:ns:xmpp-session'/>";
std::string Features(std::string_view inner) {
  return "<stream:features>" + std::string(inner) + "</stream:features>";
}
constexpr std::string_view kProceed = "<proceed xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>";
constexpr std::string_view kSuccess = "<success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>";
constexpr std::string_view kFailure =
    "<failure xmlns='urn:ietf:params:xml:ns:xmpp-sasl'><not-authorized/></failure>";

// The transcript of one login: everything the engine wrote (one entry per write, "<tls>" for
// the switch, "<close>" for the end) and the states it reported.
class Transcript : public OutputSink, public StateListener {
 public:
  void WriteOutput(const char* bytes, size_t length) override {
    events.emplace_back(bytes, length);
  }
  void StartTls(std::string_view server_name) override {
    events.push_back("<tls:" + std::string(server_name) + ">");
  }
  void CloseConnection() override { events.push_back("<close>"); }
  void OnEngineStateChange(EngineState state) override { states.push_back(state); }
  std::string Last() const { return events.empty() ? std::string() : events.back(); }
  std::string All() const {
    std::string all;
    for (const std::string& event : events) all += event + "\n";
    return all;
  }

  std::vector<std::string> events;
  std::vector<EngineState> states;
};

struct Login {
  explicit Login(std::string_view user = "alice@example.net", bool use_tls = true)
      : engine(&LoginSequence::Create) {
    engine.SetUser(XmppAddress(user));
    engine.SetOutputSink(&transcript);
    engine.SetStateListener(&transcript);
    engine.SetUseTls(use_tls);
    engine.SetRequestedResource("desk");
    engine.SetMechanismChooser(std::make_unique<PlainMechanismChooser>(
        XmppAddress(user), SecretText::FromClearText("secret"), false));
    EXPECT_EQ(engine.Connect(), EngineResult::kOk);
  }
  void Server(std::string_view bytes) { engine.HandleInput(bytes.data(), bytes.size()); }
  bool Wrote(std::string_view needle) const {
    return transcript.All().find(needle) != std::string::npos;
  }
  // Header and features, TLS, then the encrypted stream's header and features.
  void ThroughTls(std::string_view features_after_tls) {
    Server(ServerHeader("s1") + Features(std::string(kStartTlsFeature) + std::string(kPlainFeature)));
    Server(kProceed);
    Server(ServerHeader("s2") + Features(features_after_tls));
  }
  void ThroughAuth() {
    ThroughTls(kPlainFeature);
    Server(kSuccess);
    Server(ServerHeader("s3") + Features(kBindFeatures));
  }

  Transcript transcript;
  StreamEngine engine;
};

TEST(LoginSequenceTest, FullLoginSendsThreeHeadersAndWritesQueuedStanzasAfterTheSession) {
  Login login;
  ASSERT_EQ(login.transcript.events.size(), 1u);
  EXPECT_EQ(login.transcript.events[0],
            "<stream:stream to=\"example.net\" version=\"1.0\" "
            "xmlns:stream=\"http://etherx.jabber.org/streams\" xmlns=\"jabber:client\">\r\n");
  login.Server(ServerHeader("s1") + Features(std::string(kStartTlsFeature) + std::string(kPlainFeature)));
  EXPECT_EQ(login.transcript.Last(), "<starttls xmlns=\"urn:ietf:params:xml:ns:xmpp-tls\"/>");
  login.Server(kProceed);
  // The switch comes before the new header, so that the header is the first thing over TLS.
  ASSERT_GE(login.transcript.events.size(), 2u);
  EXPECT_EQ(login.transcript.events[login.transcript.events.size() - 2], "<tls:example.net>");
  EXPECT_EQ(login.transcript.Last().rfind("<stream:stream to=\"example.net\"", 0), 0u);

  login.Server(ServerHeader("s2") + Features(kPlainFeature));
  // NUL alice NUL secret: a standard server's PLAIN identity is the local part.
  EXPECT_EQ(login.transcript.Last(),
            "<auth xmlns=\"urn:ietf:params:xml:ns:xmpp-sasl\" mechanism=\"PLAIN\">"
            "AGFsaWNlAHNlY3JldA==</auth>");
  login.Server(kSuccess);
  EXPECT_EQ(login.transcript.Last().rfind("<stream:stream", 0), 0u);
  login.Server(ServerHeader("s3") + Features(kBindFeatures));
  EXPECT_EQ(login.transcript.Last(),
            "<iq type=\"set\" id=\"0\"><bind xmlns=\"urn:ietf:params:xml:ns:xmpp-bind\">"
            "<resource>desk</resource></bind></iq>");

  XmlElem message(kQnMessage);
  message.AppendAttribute(kQnTo, "bob@example.net");
  ASSERT_EQ(login.engine.SendStanza(message), EngineResult::kOk);
  login.Server("<iq type='result' id='0'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'>"
               "<jid>alice@example.net/desk</jid></bind></iq>");
  EXPECT_EQ(login.transcript.Last(),
            "<iq type=\"set\" id=\"1\"><session xmlns=\"urn:ietf:params:xml:ns:xmpp-session\"/></iq>");
  EXPECT_EQ(login.engine.GetState(), EngineState::kOpening);
  login.Server("<iq type='result' id='1'/>");
  EXPECT_EQ(login.engine.GetState(), EngineState::kOpen);
  EXPECT_EQ(login.engine.GetBoundAddress().ToString(), "alice@example.net/desk");
  EXPECT_EQ(login.transcript.Last(), "<message to=\"bob@example.net\"/>");
  EXPECT_EQ(login.transcript.states,
            (std::vector<EngineState>{EngineState::kOpening, EngineState::kOpen}));
  int headers = 0;
  for (const std::string& event : login.transcript.events) {
    if (event.rfind("<stream:stream", 0) == 0) ++headers;
  }
  EXPECT_EQ(headers, 3);
}

// Current servers may offer no session step: the stream is open as soon as it is bound.
TEST(LoginSequenceTest, WithoutASessionFeatureTheBoundStreamIsOpen) {
  Login login;
  login.ThroughTls(kPlainFeature);
  login.Server(kSuccess);
  login.Server(ServerHeader("s3") + Features("<bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'/>"));
  XmlElem message(kQnMessage);
  message.AppendAttribute(kQnTo, "bob@example.net");
  ASSERT_EQ(login.engine.SendStanza(message), EngineResult::kOk);
  EXPECT_EQ(login.engine.GetState(), EngineState::kOpening);
  login.Server("<iq type='result' id='0'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'>"
               "<jid>alice@example.net/desk</jid></bind></iq>");
  EXPECT_EQ(login.engine.GetState(), EngineState::kOpen);
  EXPECT_EQ(login.engine.GetBoundAddress().ToString(), "alice@example.net/desk");
  EXPECT_EQ(login.transcript.Last(), "<message to=\"bob@example.net\"/>");
  EXPECT_FALSE(login.Wrote("xmpp-session"));
}

// One row per way a login ends early: what the server says after a good start, and the error.
struct FailureCase {
  const char* name;
  // Steps to reach before the server's last words: 0 = after our first header, 1 = after TLS,
  // 2 = after SASL success (bind pending).
  int stage;
  std::string server;
  EngineError error;
};

class LoginFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(LoginFailureTest, EndsWithTheRightErrorAndNoCredentialsInClear) {
  const FailureCase& c = GetParam();
  Login login;
  if (c.stage >= 1) {
    login.Server(ServerHeader("s1") + Features(kStartTlsFeature));
    login.Server(kProceed);
  }
  if (c.stage >= 2) {
    login.Server(ServerHeader("s2") + Features(kPlainFeature));
    login.Server(kSuccess);
  }
  login.Server(c.server);
  EXPECT_EQ(login.engine.GetState(), EngineState::kClosed) << login.transcript.All();
  EXPECT_EQ(login.engine.GetError(), c.error) << EngineErrorName(login.engine.GetError());
  EXPECT_EQ(login.transcript.Last(), "<close>");
  if (c.stage == 0) {
    EXPECT_FALSE(login.Wrote("<auth")) << login.transcript.All();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Branches, LoginFailureTest,
    ::testing::Values(
        FailureCase{"HeaderWithoutId", 0,
                    "<stream:stream xmlns='jabber:client' "
                    "xmlns:stream='http://etherx.jabber.org/streams' version='1.0'>",
                    EngineError::kBadStreamHeader},
        FailureCase{"OldVersionHeader", 0,
                    "<stream:stream xmlns='jabber:client' "
                    "xmlns:stream='http://etherx.jabber.org/streams' id='x' version='0.9'>",
                    EngineError::kBadStreamHeader},
        FailureCase{"ServerNamespace", 0,
                    "<stream:stream xmlns='jabber:server' "
                    "xmlns:stream='http://etherx.jabber.org/streams' id='x' version='1.0'>",
                    EngineError::kBadStreamHeader},
        FailureCase{"StanzaInsteadOfFeatures", 0, ServerHeader("s1") + "<message/>",
                    EngineError::kBadStreamHeader},
        FailureCase{"TlsWantedButNotOffered", 0, ServerHeader("s1") + Features(kPlainFeature),
                    EngineError::kTlsFailed},
        FailureCase{"TlsRefused", 0,
                    ServerHeader("s1") + Features(kStartTlsFeature) +
                        "<failure xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>",
                    EngineError::kTlsFailed},
        FailureCase{"NoMechanisms", 1, ServerHeader("s2") + Features(kBindFeatures),
                    EngineError::kAuthFailed},
        FailureCase{"NoAcceptableMechanism", 1,
                    ServerHeader("s2") +
                        Features("<mechanisms xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>"
                                 "<mechanism>SCRAM-SHA-1</mechanism></mechanisms>"),
                    EngineError::kAuthFailed},
        FailureCase{"SaslFailure", 1,
                    ServerHeader("s2") + Features(kPlainFeature) + std::string(kFailure),
                    EngineError::kAuthRejected},
        FailureCase{"ChallengeIsAbortedThenRejected", 1,
                    ServerHeader("s2") + Features(kPlainFeature) +
                        "<challenge xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>eA==</challenge>" +
                        std::string(kFailure),
                    EngineError::kAuthRejected},
        FailureCase{"NonSaslAnswerToAuth", 1,
                    ServerHeader("s2") + Features(kPlainFeature) + "<iq type='get' id='9'/>",
                    EngineError::kOutOfOrder},
        FailureCase{"NoBindFeature", 2,
                    ServerHeader("s3") +
                        Features("<session xmlns='urn:ietf:params:xml:ns:xmpp-session'/>"),
                    EngineError::kBindFailed},
        FailureCase{"BindError", 2,
                    ServerHeader("s3") + Features(kBindFeatures) +
                        "<iq type='error' id='0'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'/>"
                        "</iq>",
                    EngineError::kBindFailed},
        FailureCase{"BoundWithoutResource", 2,
                    ServerHeader("s3") + Features(kBindFeatures) +
                        "<iq type='result' id='0'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'>"
                        "<jid>alice@example.net</jid></bind></iq>",
                    EngineError::kBindFailed},
        FailureCase{"BoundToAnotherAccount", 2,
                    ServerHeader("s3") + Features(kBindFeatures) +
                        "<iq type='result' id='0'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'>"
                        "<jid>mallory@example.net/desk</jid></bind></iq>",
                    EngineError::kBoundElsewhere},
        FailureCase{"SessionError", 2,
                    ServerHeader("s3") + Features(kBindFeatures) +
                        "<iq type='result' id='0'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'>"
                        "<jid>alice@example.net/desk</jid></bind></iq><iq type='error' id='1'/>",
                    EngineError::kBindFailed}),
    [](const ::testing::TestParamInfo<FailureCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(LoginSequenceTest, StartTlsIsUsedWhenOfferedEvenIfTheAccountDoesNotRequireIt) {
  Login login("alice@example.net", /*use_tls=*/false);
  login.Server(ServerHeader("s1") + Features(std::string(kStartTlsFeature) + std::string(kPlainFeature)));
  EXPECT_EQ(login.transcript.Last(), "<starttls xmlns=\"urn:ietf:params:xml:ns:xmpp-tls\"/>");
}

TEST(LoginSequenceTest, PlainIsNeverSentOnAnUnencryptedStream) {
  Login login("alice@example.net", /*use_tls=*/false);
  login.Server(ServerHeader("s1") + Features(kPlainFeature));
  EXPECT_EQ(login.engine.GetError(), EngineError::kAuthFailed);
  EXPECT_FALSE(login.Wrote("<auth"));
}

TEST(LoginSequenceTest, UnrelatedStanzasDuringBindAreIgnored) {
  Login login;
  login.ThroughAuth();
  login.Server("<message from='bob@example.net'><body>hi</body></message>"
               "<iq type='get' id='0' from='example.net'><ping xmlns='urn:xmpp:ping'/></iq>"
               "<iq type='result' id='77'/>");
  EXPECT_EQ(login.engine.GetState(), EngineState::kOpening);
  login.Server("<iq type='result' id='0'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'>"
               "<jid>alice@example.net/other</jid></bind></iq><iq type='result' id='1'/>");
  EXPECT_EQ(login.engine.GetState(), EngineState::kOpen);
  EXPECT_EQ(login.engine.GetBoundAddress().ResourcePart(), "other");
}

TEST(LoginSequenceTest, TheFallbackHostMayBindAnyAccount) {
  Login login("alice@xmpp.ombrix.com");
  login.ThroughAuth();
  login.Server("<iq type='result' id='0'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'>"
               "<jid>alice@ombrix.com/desk</jid></bind></iq><iq type='result' id='1'/>");
  EXPECT_EQ(login.engine.GetState(), EngineState::kOpen);
}

TEST(LoginSequenceTest, NoResourceRequestedLeavesTheChoiceToTheServer) {
  StreamEngine engine(&LoginSequence::Create);
  Transcript transcript;
  engine.SetUser(XmppAddress("alice@example.net"));
  engine.SetOutputSink(&transcript);
  engine.SetMechanismChooser(std::make_unique<PlainMechanismChooser>(
      XmppAddress("alice@example.net"), SecretText::FromClearText("pw"), true));
  engine.SetUseTls(false);
  engine.Connect();
  for (const std::string& bytes :
       {ServerHeader("s1") + Features(kPlainFeature), std::string(kSuccess),
        ServerHeader("s2") + Features(kBindFeatures)}) {
    engine.HandleInput(bytes.data(), bytes.size());
  }
  EXPECT_EQ(transcript.Last(),
            "<iq type=\"set\" id=\"0\"><bind xmlns=\"urn:ietf:params:xml:ns:xmpp-bind\"/></iq>");
}

TEST(SaslCredentialMechanismTest, PayloadsAndChallengeAnswer) {
  struct Case {
    std::string_view name;
    std::string_view identity;
    const char* secret;
    const char* text;
  } cases[] = {
      {kMechanismPlain, "alice@ombrix.com", "pw", "AGFsaWNlQG9tYnJpeC5jb20AcHc="},
      {kMechanismToken, "Alice@Ombrix.com", "tok", "AEFsaWNlQE9tYnJpeC5jb20AdG9r"},
      {kMechanismCookie, "bob", "c", "AGJvYgBj"},
  };
  for (const Case& c : cases) {
    SaslCredentialMechanism mechanism(c.name, c.identity, SecretText::FromClearText(c.secret));
    std::unique_ptr<XmlElem> auth = mechanism.StartAuth();
    ASSERT_NE(auth, nullptr);
    EXPECT_EQ(auth->GetAttribute(kQnMechanism), c.name);
    EXPECT_EQ(auth->OnlyText(), c.text) << c.name;
    std::unique_ptr<XmlElem> answer = mechanism.HandleChallenge(XmlElem(kQnSaslChallenge));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer->Name(), kQnSaslAbort);
  }
}

TEST(PlainMechanismChooserTest, ChoosesPlainOnlyWhenEncryptedOrAllowedAndOffered) {
  const std::vector<std::string> offered = {"SCRAM-SHA-1", "PLAIN"};
  const std::vector<std::string> no_plain = {"SCRAM-SHA-1"};
  for (const char* account : {"alice@ombrix.com", "alice@example.net"}) {
    PlainMechanismChooser strict(XmppAddress(account), SecretText::FromClearText("pw"), false);
    EXPECT_EQ(strict.ChooseMechanism(offered, false), "") << account;
    EXPECT_EQ(strict.ChooseMechanism(offered, true), "PLAIN") << account;
    EXPECT_EQ(strict.ChooseMechanism(no_plain, true), "") << account;
    EXPECT_EQ(strict.CreateMechanism("SCRAM-SHA-1"), nullptr);
    PlainMechanismChooser loopback(XmppAddress(account), SecretText::FromClearText("pw"), true);
    EXPECT_EQ(loopback.ChooseMechanism(offered, false), "PLAIN") << account;
  }
  EXPECT_EQ(PlainAuthIdentity(XmppAddress("alice@ombrix.com")), "alice@ombrix.com");
  EXPECT_EQ(PlainAuthIdentity(XmppAddress("alice@example.net")), "alice");
}

}  // namespace
}  // namespace vexalo
