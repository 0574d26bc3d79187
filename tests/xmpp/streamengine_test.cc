#include "xmpp/stream/streamengine.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xmlwriter.h"
#include "xmpp/stream/constants.h"

namespace vexalo {
namespace {

constexpr std::string_view kClientHeader =
    "<stream:stream to=\"example.net\" version=\"1.0\" "
    "xmlns:stream=\"http://etherx.jabber.org/streams\" xmlns=\"jabber:client\">\r\n";
constexpr std::string_view kServerHeader =
    "<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
    "xmlns:stream='http://etherx.jabber.org/streams' from='example.net' id='s1' version='1.0'>";
constexpr std::string_view kFeatures =
    "<stream:features><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'/></stream:features>";
constexpr std::string_view kTlsFeatures =
    "<stream:features><starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'/></stream:features>";
constexpr std::string_view kStreamEnd = "</stream:stream>";
const std::string_view kPredeclared[] = {"stream", kNsStream, "", kNsClient};

// Stands in for the login sequence: header, features (switching to TLS once when offered),
// then the session, after which the stanzas queued meanwhile go out.
class ScriptedLogin : public StreamLogin {
 public:
  explicit ScriptedLogin(StreamEngine& engine) : engine_(engine) {}

  void Step(const XmlElem* stanza, bool is_header) override {
    if (stanza == nullptr) {
      engine_.OpenStream();
      return;
    }
    if (!have_header_) {
      if (!is_header) return Fail();
      have_header_ = true;
      return;
    }
    if (is_header || stanza->Name() != kQnStreamFeatures) return Fail();
    have_header_ = false;
    if (stanza->FindChild(kQnTlsStarttls) != nullptr && !engine_.IsEncrypted()) {
      engine_.StartTls(engine_.GetUser().DomainPart());
      engine_.OpenStream();
      return;
    }
    engine_.OnBound(XmppAddress("alice@example.net/desk"));
    for (const std::unique_ptr<XmlElem>& queued : queued_) engine_.PrintStanza(*queued);
    queued_.clear();
    done_ = true;
  }
  bool IsDone() const override { return done_; }
  void QueueStanza(const XmlElem& stanza) override {
    queued_.push_back(std::make_unique<XmlElem>(stanza));
  }

 private:
  void Fail() {
    done_ = true;
    engine_.FailLogin(EngineError::kBadStreamHeader);
  }

  StreamEngine& engine_;
  bool have_header_ = false;
  bool done_ = false;
  std::vector<std::unique_ptr<XmlElem>> queued_;
};

// The server side of the transcript: records, in order, every write, TLS start, close and
// state change the engine reports.
class TranscriptPeer : public OutputSink, public StateListener {
 public:
  void WriteOutput(const char* bytes, size_t length) override {
    events.push_back("write:" + std::string(bytes, length));
    written.append(bytes, length);
    if (on_write) on_write();
  }
  void StartTls(std::string_view server_name) override {
    events.push_back("tls:" + std::string(server_name));
  }
  void CloseConnection() override { events.push_back("close"); }
  void OnEngineStateChange(EngineState state) override {
    events.push_back(std::string("state:") + EngineStateName(state));
  }
  void Clear() {
    events.clear();
    written.clear();
  }

  std::vector<std::string> events;
  std::string written;
  std::function<void()> on_write;
};

class RecordingHandler : public StanzaHandler {
 public:
  RecordingHandler(std::string name, std::vector<std::string>* log, bool consume)
      : name_(std::move(name)), log_(log), consume_(consume) {}
  bool HandleStanza(const XmlElem& stanza) override {
    log_->push_back(name_ + ":" + stanza.GetAttribute(kQnId));
    if (action) action(stanza);
    return consume_;
  }

  std::function<void(const XmlElem&)> action;

 private:
  std::string name_;
  std::vector<std::string>* log_;
  bool consume_;
};

class RecordingIqHandler : public IqResponseHandler {
 public:
  void OnIqResponse(const PendingIq& request, const XmlElem& response) override {
    responses.push_back(request.id() + "<-" + response.GetAttribute(kQnFrom) + ":" +
                        response.GetAttribute(kQnType));
  }
  std::vector<std::string> responses;
};

// An engine wired to a scripted peer, with an observer recording every stanza offered.
struct Session {
  Session() {
    EXPECT_EQ(engine.SetUser(XmppAddress("alice@example.net")), EngineResult::kOk);
    EXPECT_EQ(engine.SetOutputSink(&peer), EngineResult::kOk);
    EXPECT_EQ(engine.SetStateListener(&peer), EngineResult::kOk);
    EXPECT_EQ(engine.AddStanzaHandler(&observer, kLevelObserve), EngineResult::kOk);
  }

  EngineResult Inject(std::string_view bytes) {
    return engine.HandleInput(bytes.data(), bytes.size());
  }
  void Connect() {
    ASSERT_EQ(engine.Connect(), EngineResult::kOk);
    peer.Clear();
  }
  void Open() {
    Connect();
    ASSERT_EQ(Inject(std::string(kServerHeader) + std::string(kFeatures)), EngineResult::kOk);
    ASSERT_EQ(engine.GetState(), EngineState::kOpen);
    peer.Clear();
  }

  TranscriptPeer peer;
  StreamEngine engine{[](StreamEngine& e) { return std::make_unique<ScriptedLogin>(e); }};
  std::vector<std::string> seen;
  RecordingHandler observer{"observe", &seen, false};
};

std::string Write(std::string_view bytes) { return "write:" + std::string(bytes); }

std::string StreamErrorEnd(std::string_view condition) {
  return "<stream:error><" + std::string(condition) +
         " xmlns=\"urn:ietf:params:xml:ns:xmpp-streams\"/></stream:error></stream:stream>";
}

using Events = std::vector<std::string>;

TEST(StreamEngineTest, ConnectOpensTheStreamAndLoginBringsItToOpen) {
  Session s;
  EXPECT_EQ(s.engine.GetState(), EngineState::kNew);
  EXPECT_EQ(s.Inject("<x/>"), EngineResult::kBadState);
  ASSERT_EQ(s.engine.Connect(), EngineResult::kOk);
  EXPECT_EQ(s.peer.events, (Events{Write(kClientHeader), "state:opening"}));
  EXPECT_EQ(s.engine.Connect(), EngineResult::kBadState);
  s.peer.Clear();

  ASSERT_EQ(s.Inject(kServerHeader), EngineResult::kOk);
  EXPECT_EQ(s.engine.GetState(), EngineState::kOpening);
  ASSERT_EQ(s.Inject(kFeatures), EngineResult::kOk);
  EXPECT_EQ(s.peer.events, (Events{"state:open"}));
  EXPECT_EQ(s.engine.GetBoundAddress(), XmppAddress("alice@example.net/desk"));
  EXPECT_EQ(s.engine.GetError(), EngineError::kNone);
  EXPECT_FALSE(s.engine.IsEncrypted());
  // Login stanzas never reach the handlers.
  EXPECT_TRUE(s.seen.empty());
}

TEST(StreamEngineTest, ConfigurationIsAcceptedOnlyBeforeConnect) {
  const std::vector<std::pair<std::string, std::function<EngineResult(StreamEngine&)>>> setters = {
      {"SetOutputSink", [](StreamEngine& e) { return e.SetOutputSink(nullptr); }},
      {"SetUser", [](StreamEngine& e) { return e.SetUser(XmppAddress("alice@example.net")); }},
      {"SetMechanismChooser", [](StreamEngine& e) { return e.SetMechanismChooser(nullptr); }},
      {"SetUseTls", [](StreamEngine& e) { return e.SetUseTls(true); }},
      {"SetTlsServerName", [](StreamEngine& e) { return e.SetTlsServerName("example.net"); }},
      {"SetRequestedResource", [](StreamEngine& e) { return e.SetRequestedResource("desk"); }},
      {"SetStateListener", [](StreamEngine& e) { return e.SetStateListener(nullptr); }},
  };
  Session before;
  Session after;
  after.Connect();
  for (const auto& [name, call] : setters) {
    SCOPED_TRACE(name);
    EXPECT_EQ(call(before.engine), EngineResult::kOk);
    EXPECT_EQ(call(after.engine), EngineResult::kBadState);
  }
  EXPECT_EQ(after.engine.GetRequestedResource(), "");

  // The stream is opened to the user's domain: no user, nothing to connect to.
  StreamEngine no_user([](StreamEngine& e) { return std::make_unique<ScriptedLogin>(e); });
  EXPECT_EQ(no_user.Connect(), EngineResult::kBadArgument);
  EXPECT_EQ(no_user.GetState(), EngineState::kNew);
}

TEST(StreamEngineTest, StanzasSentDuringLoginLeaveWithTheSessionInOneWrite) {
  Session s;
  s.Connect();
  XmlElem message(kQnMessage);
  message.SetAttribute(kQnTo, "bob@example.net");
  message.SetAttribute(kQnId, "early");
  ASSERT_EQ(s.engine.SendStanza(message), EngineResult::kOk);
  EXPECT_EQ(s.engine.SendRaw(" "), EngineResult::kBadState);
  ASSERT_EQ(s.Inject(kServerHeader), EngineResult::kOk);
  EXPECT_TRUE(s.peer.events.empty());

  ASSERT_EQ(s.Inject(kFeatures), EngineResult::kOk);
  // The listener hears of the state only after the bytes are out.
  EXPECT_EQ(s.peer.events,
            (Events{Write("<message to=\"bob@example.net\" id=\"early\"/>"), "state:open"}));
  s.peer.Clear();
  EXPECT_EQ(s.engine.SendRaw(" "), EngineResult::kOk);
  EXPECT_EQ(s.peer.events, (Events{Write(" ")}));
}

TEST(StreamEngineTest, StartTlsSwitchesBeforeTheNewHeaderAndDropsTheRestOfThePlainStream) {
  struct Case {
    std::string tls_server_name;
    std::string expected_name;
  };
  for (const Case& c : {Case{"", "example.net"}, Case{"talk.example.org", "talk.example.org"}}) {
    SCOPED_TRACE(c.expected_name);
    Session s;
    ASSERT_EQ(s.engine.SetTlsServerName(c.tls_server_name), EngineResult::kOk);
    s.Connect();
    // Whatever follows the switch in the same read was sent in the clear: not trusted.
    ASSERT_EQ(s.Inject(std::string(kServerHeader) + std::string(kTlsFeatures) +
                       "<message id='injected'/>"),
              EngineResult::kOk);
    EXPECT_EQ(s.peer.events, (Events{"tls:" + c.expected_name, Write(kClientHeader)}));
    EXPECT_TRUE(s.engine.IsEncrypted());
    s.peer.Clear();

    ASSERT_EQ(s.Inject(std::string(kServerHeader) + std::string(kFeatures) + "<message id='m'/>"),
              EngineResult::kOk);
    EXPECT_EQ(s.engine.GetState(), EngineState::kOpen);
    EXPECT_EQ(s.seen, (Events{"observe:m"}));
  }
}

TEST(StreamEngineTest, WaysTheStreamEnds) {
  struct Case {
    std::string name;
    bool open_first;
    std::function<void(Session&)> action;
    EngineError error;
    Events events;
  };
  auto inject = [](std::string bytes) {
    return [bytes](Session& s) { EXPECT_EQ(s.Inject(bytes), EngineResult::kOk); };
  };
  const std::string conflict =
      "<stream:error><conflict xmlns='urn:ietf:params:xml:ns:xmpp-streams'/></stream:error>";
  const Events ended = {Write(kStreamEnd), "close", "state:closed"};
  const Case cases[] = {
      {"server closes its stream", true, inject(std::string(kStreamEnd)),
       EngineError::kStreamClosed, ended},
      {"stream error while open", true, inject(conflict + "<message id='after'/>"),
       EngineError::kStreamErrorReceived, ended},
      {"stream error during login", false, inject(std::string(kServerHeader) + conflict),
       EngineError::kStreamErrorReceived, ended},
      {"login fails", false, inject(std::string(kServerHeader) + "<message id='x'/>"),
       EngineError::kBadStreamHeader, ended},
      {"transport closed",
       true,
       [](Session& s) { s.engine.ConnectionClosed(); },
       EngineError::kConnectionClosed,
       {"close", "state:closed"}},
      {"local disconnect while open", true,
       [](Session& s) { EXPECT_EQ(s.engine.Disconnect(), EngineResult::kOk); }, EngineError::kNone,
       ended},
      {"local disconnect during login", false,
       [](Session& s) { EXPECT_EQ(s.engine.Disconnect(), EngineResult::kOk); }, EngineError::kNone,
       ended},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session s;
    if (c.open_first) {
      s.Open();
    } else {
      s.Connect();
    }
    c.action(s);
    EXPECT_EQ(s.engine.GetState(), EngineState::kClosed);
    EXPECT_EQ(s.engine.GetError(), c.error);
    EXPECT_EQ(s.peer.events, c.events);
    EXPECT_TRUE(s.seen.empty());
    EXPECT_EQ(s.engine.GetStreamError() != nullptr, c.error == EngineError::kStreamErrorReceived);

    // Closed is final and quiet.
    s.peer.Clear();
    XmlElem message(kQnMessage);
    EXPECT_EQ(s.engine.Disconnect(), EngineResult::kOk);
    s.engine.ConnectionClosed();
    EXPECT_EQ(s.Inject("<message/>"), EngineResult::kBadState);
    EXPECT_EQ(s.engine.SendStanza(message), EngineResult::kBadState);
    EXPECT_EQ(s.engine.SendRaw(" "), EngineResult::kBadState);
    EXPECT_EQ(s.engine.AddStanzaHandler(&s.observer, kLevelFirst), EngineResult::kBadState);
    EXPECT_TRUE(s.peer.events.empty());
    EXPECT_EQ(s.engine.GetError(), c.error);
  }
}

TEST(StreamEngineTest, TransportFailingDuringAWriteClosesOnceAndReportsOnce) {
  Session s;
  s.Open();
  s.peer.on_write = [&] { s.engine.ConnectionClosed(); };
  ASSERT_EQ(s.engine.SendRaw(" "), EngineResult::kOk);
  EXPECT_EQ(s.peer.events, (Events{Write(" "), "close", "state:closed"}));
  EXPECT_EQ(s.engine.GetError(), EngineError::kConnectionClosed);
}

TEST(StreamEngineTest, MechanismChooserIsOwnedByTheEngine) {
  class CountedChooser : public MechanismChooser {
   public:
    explicit CountedChooser(int* destroyed) : destroyed_(destroyed) {}
    ~CountedChooser() override { ++*destroyed_; }
    std::string ChooseMechanism(const std::vector<std::string>&, bool) override { return ""; }
    std::unique_ptr<AuthMechanism> CreateMechanism(std::string_view) override { return nullptr; }

   private:
    int* destroyed_;
  };
  int destroyed = 0;
  {
    Session s;
    ASSERT_EQ(s.engine.SetMechanismChooser(std::make_unique<CountedChooser>(&destroyed)),
              EngineResult::kOk);
    ASSERT_EQ(s.engine.SetMechanismChooser(std::make_unique<CountedChooser>(&destroyed)),
              EngineResult::kOk);
    EXPECT_EQ(destroyed, 1);
    EXPECT_NE(s.engine.GetMechanismChooser(), nullptr);
  }
  EXPECT_EQ(destroyed, 2);
}

TEST(StreamEngineTest, ReceivedStreamErrorIsKept) {
  Session s;
  s.Open();
  ASSERT_EQ(s.Inject("<stream:error><see-other-host xmlns='urn:ietf:params:xml:ns:xmpp-streams'>"
                     "other.example.net</see-other-host></stream:error>"),
            EngineResult::kOk);
  const XmlElem* error = s.engine.GetStreamError();
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(XmlWriter::ToString(*error, kPredeclared),
            "<stream:error><see-other-host xmlns=\"urn:ietf:params:xml:ns:xmpp-streams\">"
            "other.example.net</see-other-host></stream:error>");
}

TEST(StreamEngineTest, HandlerLevelsOfferStanzasInOrderUntilOneConsumes) {
  Session s;
  s.Open();
  std::vector<std::string> log;
  RecordingHandler last("last", &log, true);
  RecordingHandler third("third", &log, false);
  RecordingHandler observe2("observe2", &log, true);
  RecordingHandler first1("first1", &log, false);
  RecordingHandler first2("first2", &log, true);
  RecordingHandler first3("first3", &log, true);
  RecordingHandler none("none", &log, true);
  RecordingHandler second("second", &log, true);
  // Registered out of level order on purpose.
  const std::pair<RecordingHandler*, HandlerLevel> registrations[] = {
      {&last, kLevelLast},    {&third, kLevelThird},   {&observe2, kLevelObserve},
      {&first1, kLevelFirst}, {&first2, kLevelFirst},  {&first3, kLevelFirst},
      {&none, kLevelNone},    {&second, kLevelSecond},
  };
  for (const auto& [handler, level] : registrations) {
    ASSERT_EQ(s.engine.AddStanzaHandler(handler, level), EngineResult::kOk);
  }
  struct Step {
    StanzaHandler* remove_before;
    Events expected;
  };
  const Step steps[] = {
      {nullptr, {"observe2:m", "first1:m", "first2:m"}},
      {&first2, {"observe2:m", "first1:m", "first3:m"}},
      {&first3, {"observe2:m", "first1:m", "second:m"}},
      {&second, {"observe2:m", "first1:m", "third:m", "last:m"}},
      {&last, {"observe2:m", "first1:m", "third:m"}},
  };
  for (const Step& step : steps) {
    if (step.remove_before != nullptr) {
      ASSERT_EQ(s.engine.RemoveStanzaHandler(step.remove_before), EngineResult::kOk);
      EXPECT_EQ(s.engine.RemoveStanzaHandler(step.remove_before), EngineResult::kBadArgument);
    }
    log.clear();
    s.seen.clear();
    ASSERT_EQ(s.Inject("<message id='m'/>"), EngineResult::kOk);
    EXPECT_EQ(log, step.expected);
    EXPECT_EQ(s.seen, (Events{"observe:m"}));
  }
  // A message nobody consumed is not answered.
  EXPECT_TRUE(s.peer.events.empty());

  EXPECT_EQ(s.engine.AddStanzaHandler(nullptr, kLevelFirst), EngineResult::kBadArgument);
  EXPECT_EQ(s.engine.AddStanzaHandler(&last, static_cast<HandlerLevel>(6)),
            EngineResult::kBadArgument);
  EXPECT_EQ(s.engine.AddStanzaHandler(&last, static_cast<HandlerLevel>(-1)),
            EngineResult::kBadArgument);
  // Registered at two levels: one removal takes it out of both.
  ASSERT_EQ(s.engine.AddStanzaHandler(&last, kLevelFirst), EngineResult::kOk);
  ASSERT_EQ(s.engine.AddStanzaHandler(&last, kLevelLast), EngineResult::kOk);
  ASSERT_EQ(s.engine.RemoveStanzaHandler(&last), EngineResult::kOk);
  EXPECT_EQ(s.engine.RemoveStanzaHandler(&last), EngineResult::kBadArgument);
}

TEST(StreamEngineTest, HandlersMayCallBackIntoTheEngineWhileDispatching) {
  Session s;
  s.Open();
  std::vector<std::string> log;
  RecordingHandler remover("remover", &log, false);
  RecordingHandler removed("removed", &log, true);
  RecordingHandler late("late", &log, false);
  RecordingHandler replier("replier", &log, true);
  ASSERT_EQ(s.engine.AddStanzaHandler(&remover, kLevelFirst), EngineResult::kOk);
  ASSERT_EQ(s.engine.AddStanzaHandler(&removed, kLevelFirst), EngineResult::kOk);
  ASSERT_EQ(s.engine.AddStanzaHandler(&replier, kLevelSecond), EngineResult::kOk);
  remover.action = [&](const XmlElem&) {
    s.engine.RemoveStanzaHandler(&removed);
    s.engine.RemoveStanzaHandler(&late);
    s.engine.AddStanzaHandler(&late, kLevelFirst);
  };
  replier.action = [&](const XmlElem& stanza) {
    XmlElem reply(kQnMessage);
    reply.SetAttribute(kQnId, "re-" + stanza.GetAttribute(kQnId));
    EXPECT_EQ(s.engine.SendStanza(reply), EngineResult::kOk);
    // The splitter is busy: input from inside a callback is refused, not re-entered.
    EXPECT_EQ(s.Inject("<message/>"), EngineResult::kBadState);
  };

  ASSERT_EQ(s.Inject("<message id='a'/><message id='b'/>"), EngineResult::kOk);
  // A handler removed during dispatch is not called; one added waits for the next stanza.
  EXPECT_EQ(log, (Events{"remover:a", "replier:a", "remover:b", "late:b", "replier:b"}));
  // Everything one input produced leaves in a single write.
  EXPECT_EQ(s.peer.events, (Events{Write("<message id=\"re-a\"/><message id=\"re-b\"/>")}));
}

TEST(StreamEngineTest, DisconnectFromAHandlerStopsDispatch) {
  Session s;
  s.Open();
  std::vector<std::string> log;
  RecordingHandler closer("closer", &log, true);
  closer.action = [&](const XmlElem&) { EXPECT_EQ(s.engine.Disconnect(), EngineResult::kOk); };
  ASSERT_EQ(s.engine.AddStanzaHandler(&closer, kLevelFirst), EngineResult::kOk);
  ASSERT_EQ(s.Inject("<iq type='get' id='a'/><message id='b'/>"), EngineResult::kOk);
  EXPECT_EQ(log, (Events{"closer:a"}));
  EXPECT_EQ(s.seen, (Events{"observe:a"}));
  EXPECT_EQ(s.peer.events, (Events{Write(kStreamEnd), "close", "state:closed"}));
  EXPECT_EQ(s.engine.GetError(), EngineError::kNone);
}

TEST(StreamEngineTest, OnlyUnhandledIqRequestsAreAnsweredWithFeatureNotImplemented) {
  const std::string not_implemented =
      "<error code=\"501\" type=\"cancel\"><feature-not-implemented "
      "xmlns=\"urn:ietf:params:xml:ns:xmpp-stanzas\"/></error>";
  struct Case {
    std::string name;
    std::string input;
    std::string answer;  // empty: none
  };
  const Case cases[] = {
      {"get from a peer",
       "<iq type='get' id='v1' from='bob@example.net/home' to='alice@example.net/desk'>"
       "<query xmlns='jabber:iq:version'/></iq>",
       "<iq type=\"error\" id=\"v1\" to=\"bob@example.net/home\">"
       "<query xmlns=\"jabber:iq:version\"/>" +
           not_implemented + "</iq>"},
      {"set from the server, children and text copied",
       "<iq id='s1' type='set'>x<query xmlns='urn:example:q'><item a='1'>t</item></query></iq>",
       "<iq type=\"error\" id=\"s1\">x<query xmlns=\"urn:example:q\"><item a=\"1\">t</item>"
       "</query>" +
           not_implemented + "</iq>"},
      {"missing type counts as a request", "<iq id='n1' from='example.net'/>",
       "<iq type=\"error\" id=\"n1\" to=\"example.net\">" + not_implemented + "</iq>"},
      {"unmatched result", "<iq type='result' id='r1' from='example.net'/>", ""},
      {"unmatched error", "<iq type='error' id='e1' from='example.net'/>", ""},
      {"message", "<message id='m1' from='bob@example.net/home'><body>hi</body></message>", ""},
      {"presence", "<presence id='p1' from='bob@example.net/home'/>", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session s;
    s.Open();
    ASSERT_EQ(s.Inject(c.input), EngineResult::kOk);
    EXPECT_EQ(s.seen.size(), 1u);
    EXPECT_EQ(s.peer.written, c.answer);
  }

  // Consumed by a handler: no answer.
  Session s;
  s.Open();
  std::vector<std::string> log;
  RecordingHandler taker("taker", &log, true);
  ASSERT_EQ(s.engine.AddStanzaHandler(&taker, kLevelLast), EngineResult::kOk);
  ASSERT_EQ(s.Inject(cases[0].input), EngineResult::kOk);
  EXPECT_EQ(log, (Events{"taker:v1"}));
  EXPECT_TRUE(s.peer.events.empty());
}

TEST(StreamEngineTest, SendStanzaErrorUsesEachConditionsTypeAndCode) {
  struct Case {
    StanzaErrorCondition condition;
    std::string name;
    std::string type;
    std::string code;
  };
  using C = StanzaErrorCondition;
  const Case cases[] = {
      {C::kBadRequest, "bad-request", "modify", "400"},
      {C::kConflict, "conflict", "cancel", "409"},
      {C::kFeatureNotImplemented, "feature-not-implemented", "cancel", "501"},
      {C::kForbidden, "forbidden", "auth", "403"},
      {C::kGone, "gone", "modify", "302"},
      {C::kInternalServerError, "internal-server-error", "wait", "500"},
      {C::kItemNotFound, "item-not-found", "cancel", "404"},
      {C::kJidMalformed, "jid-malformed", "modify", "400"},
      {C::kNotAcceptable, "not-acceptable", "cancel", "406"},
      {C::kNotAllowed, "not-allowed", "cancel", "405"},
      {C::kPaymentRequired, "payment-required", "auth", "402"},
      {C::kRecipientUnavailable, "recipient-unavailable", "wait", "404"},
      {C::kRedirect, "redirect", "modify", "302"},
      {C::kRegistrationRequired, "registration-required", "auth", "407"},
      {C::kRemoteServerNotFound, "remote-server-not-found", "cancel", "404"},
      {C::kRemoteServerTimeout, "remote-server-timeout", "wait", "502"},
      {C::kResourceConstraint, "resource-constraint", "wait", "500"},
      {C::kServiceUnavailable, "service-unavailable", "cancel", "503"},
      {C::kSubscriptionRequired, "subscription-required", "auth", "407"},
      {C::kUndefinedCondition, "undefined-condition", "wait", "500"},
      {C::kUnexpectedRequest, "unexpected-request", "wait", "400"},
  };
  Session s;
  s.Open();
  std::unique_ptr<XmlElem> request = XmlElem::ParseFromString(
      "<message xmlns='jabber:client' from='bob@example.net/home' to='alice@example.net/desk' "
      "type='chat' id='m1'><body>hi</body></message>");
  ASSERT_NE(request, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    s.peer.Clear();
    ASSERT_EQ(s.engine.SendStanzaError(*request, c.condition, ""), EngineResult::kOk);
    EXPECT_EQ(s.peer.written,
              "<message type=\"error\" xmlns=\"jabber:client\" to=\"bob@example.net/home\" "
              "id=\"m1\"><body>hi</body><error code=\"" +
                  c.code + "\" type=\"" + c.type + "\"><" + c.name +
                  " xmlns=\"urn:ietf:params:xml:ns:xmpp-stanzas\"/></error>"
                  "</message>");
  }
  s.peer.Clear();
  ASSERT_EQ(s.engine.SendStanzaError(*request, C::kNotAllowed, "no <thanks>"), EngineResult::kOk);
  EXPECT_NE(s.peer.written.find("<not-allowed xmlns=\"urn:ietf:params:xml:ns:xmpp-stanzas\"/>"
                                "<text xmlns=\"urn:ietf:params:xml:ns:xmpp-stanzas\">"
                                "no &lt;thanks&gt;</text></error>"),
            std::string::npos)
      << s.peer.written;
  EXPECT_EQ(s.engine.SendStanzaError(*request, static_cast<C>(21), ""), EngineResult::kBadArgument);
  EXPECT_EQ(s.engine.SendStanzaError(*request, static_cast<C>(-1), ""), EngineResult::kBadArgument);
}

TEST(StreamEngineTest, IqResponsesAreMatchedByIdAndSender) {
  struct Case {
    std::string name;
    std::optional<std::string> request_to;
    std::optional<std::string> reply_from;
    bool matched;
  };
  const Case cases[] = {
      {"peer answers", "bob@example.net/home", "bob@example.net/home", true},
      {"peer answers, server normalised the case", "Bob@Example.NET/home", "bob@example.net/home",
       true},
      {"someone else answers", "bob@example.net/home", "mallory@example.net/home", false},
      {"peer's other resource", "bob@example.net/home", "bob@example.net/work", false},
      {"peer's bare address", "bob@example.net/home", "bob@example.net", false},
      {"no sender for a peer request", "bob@example.net/home", std::nullopt, false},
      {"empty sender for a peer request", "bob@example.net/home", "", false},
      {"server, no sender", std::nullopt, std::nullopt, true},
      {"server, own bare address", std::nullopt, "alice@example.net", true},
      {"server, own full address", std::nullopt, "alice@example.net/desk", true},
      {"server, domain", std::nullopt, "example.net", true},
      {"server, someone else", std::nullopt, "mallory@example.net", false},
      {"server, own other resource", std::nullopt, "alice@example.net/phone", false},
      {"server, other domain", std::nullopt, "example.org", false},
      {"to the domain, no sender", "example.net", std::nullopt, true},
      {"to own bare address, answered from it", "alice@example.net", "alice@example.net", true},
      {"to the domain, other domain answers", "example.net", "example.org", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session s;
    s.Open();
    RecordingIqHandler handler;
    XmlElem request(kQnIq);
    request.SetAttribute(kQnType, kStrGet);
    const std::string id = s.engine.NextId();
    request.SetAttribute(kQnId, id);
    if (c.request_to) request.SetAttribute(kQnTo, *c.request_to);
    PendingIq* cookie = nullptr;
    ASSERT_EQ(s.engine.SendIq(request, &handler, &cookie), EngineResult::kOk);
    ASSERT_NE(cookie, nullptr);
    EXPECT_EQ(cookie->id(), id);
    s.peer.Clear();

    std::string reply = "<iq type='result' id='" + id + "'";
    if (c.reply_from) reply += " from='" + *c.reply_from + "'";
    reply += "/>";
    ASSERT_EQ(s.Inject(reply), EngineResult::kOk);
    if (c.matched) {
      EXPECT_EQ(handler.responses, (Events{id + "<-" + c.reply_from.value_or("") + ":result"}));
      EXPECT_TRUE(s.seen.empty());
    } else {
      // Not the requester's: it goes through the handler levels, unanswered, and the request
      // still waits for its real response.
      EXPECT_TRUE(handler.responses.empty());
      EXPECT_EQ(s.seen, (Events{"observe:" + id}));
      EXPECT_TRUE(s.peer.events.empty());
      IqResponseHandler* removed = nullptr;
      EXPECT_EQ(s.engine.RemoveIqHandler(cookie, &removed), EngineResult::kOk);
      EXPECT_EQ(removed, &handler);
    }
  }
}

TEST(StreamEngineTest, IqResponsesNeedTheRightIdAndAResponseType) {
  Session s;
  s.Open();
  RecordingIqHandler handler;
  XmlElem request(kQnIq);
  request.SetAttribute(kQnType, kStrSet);
  request.SetAttribute(kQnId, s.engine.NextId());
  request.SetAttribute(kQnTo, "bob@example.net/home");
  PendingIq* cookie = nullptr;
  ASSERT_EQ(s.engine.SendIq(request, &handler, &cookie), EngineResult::kOk);
  EXPECT_EQ(s.peer.written, "<iq type=\"set\" id=\"0\" to=\"bob@example.net/home\"/>");
  s.peer.Clear();

  ASSERT_EQ(s.Inject("<iq type='result' id='1' from='bob@example.net/home'/>"), EngineResult::kOk);
  ASSERT_EQ(s.Inject("<iq type='result' from='bob@example.net/home'/>"), EngineResult::kOk);
  // A request reusing the id is a request, not the answer.
  ASSERT_EQ(s.Inject("<iq type='get' id='0' from='bob@example.net/home'/>"), EngineResult::kOk);
  EXPECT_TRUE(handler.responses.empty());
  EXPECT_EQ(s.seen, (Events{"observe:1", "observe:", "observe:0"}));
  EXPECT_NE(s.peer.written.find("feature-not-implemented"), std::string::npos);

  ASSERT_EQ(s.Inject("<iq type='error' id='0' from='bob@example.net/home'/>"), EngineResult::kOk);
  EXPECT_EQ(handler.responses, (Events{"0<-bob@example.net/home:error"}));
  // Delivered once: the record is gone.
  EXPECT_EQ(s.engine.RemoveIqHandler(cookie, nullptr), EngineResult::kBadArgument);
  ASSERT_EQ(s.Inject("<iq type='result' id='0' from='bob@example.net/home'/>"), EngineResult::kOk);
  EXPECT_EQ(handler.responses.size(), 1u);
}

TEST(StreamEngineTest, RemovedIqHandlerIsNotCalled) {
  Session s;
  s.Open();
  RecordingIqHandler handler;
  XmlElem request(kQnIq);
  request.SetAttribute(kQnType, kStrGet);
  request.SetAttribute(kQnId, "q");
  PendingIq* cookie = nullptr;
  ASSERT_EQ(s.engine.SendIq(request, &handler, &cookie), EngineResult::kOk);
  IqResponseHandler* removed = nullptr;
  ASSERT_EQ(s.engine.RemoveIqHandler(cookie, &removed), EngineResult::kOk);
  EXPECT_EQ(removed, &handler);
  ASSERT_EQ(s.Inject("<iq type='result' id='q'/>"), EngineResult::kOk);
  EXPECT_TRUE(handler.responses.empty());
  EXPECT_EQ(s.seen, (Events{"observe:q"}));
}

TEST(StreamEngineTest, SendIqRejectsWhatCannotBeAnswered) {
  Session s;
  s.Open();
  RecordingIqHandler handler;
  struct Case {
    std::string name;
    std::string text;
    bool with_handler;
  };
  const Case cases[] = {
      {"no handler", "<iq xmlns='jabber:client' type='get' id='a'/>", false},
      {"not an iq", "<message xmlns='jabber:client' type='get' id='a'/>", true},
      {"a result", "<iq xmlns='jabber:client' type='result' id='a'/>", true},
      {"no type", "<iq xmlns='jabber:client' id='a'/>", true},
      {"no id", "<iq xmlns='jabber:client' type='set'/>", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<XmlElem> element = XmlElem::ParseFromString(c.text);
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(s.engine.SendIq(*element, c.with_handler ? &handler : nullptr, nullptr),
              EngineResult::kBadArgument);
  }
  EXPECT_TRUE(s.peer.events.empty());
  ASSERT_EQ(s.engine.Disconnect(), EngineResult::kOk);
  std::unique_ptr<XmlElem> good = XmlElem::ParseFromString(cases[0].text);
  EXPECT_EQ(s.engine.SendIq(*good, &handler, nullptr), EngineResult::kBadState);
}

TEST(StreamEngineTest, IdsCountUpFromZero) {
  Session s;
  EXPECT_EQ(s.engine.NextId(), "0");
  EXPECT_EQ(s.engine.NextId(), "1");
  EXPECT_EQ(s.engine.NextId(), "2");
}

TEST(StreamEngineTest, HostileInputEndsTheStreamWithAStreamError) {
  struct Case {
    std::string name;
    bool before_header;  // the server's first bytes, else sent once the session is open
    std::string input;
    std::string condition;
  };
  std::string deep = "<message>";
  for (int i = 0; i < 80; ++i) deep += "<a>";
  // Signed in, a server may send up to 16 MiB at once (a large roster); before, 1 MiB.
  std::string large = "<message><body>" + std::string(kMaxSignedInStanzaBytes + 16, 'x');
  std::string large_before_login =
      std::string(kServerHeader) + "<message><body>" + std::string(kMaxStanzaBytes + 16, 'x');
  std::string namespaces = "<message";
  for (int i = 0; i < 200; ++i) {
    namespaces += " xmlns:p" + std::to_string(i) + "='urn:n" + std::to_string(i) + "'";
  }
  namespaces += "/>";
  const Case cases[] = {
      {"DOCTYPE before the header", true,
       "<?xml version='1.0'?><!DOCTYPE lol [<!ENTITY lol 'lol'><!ENTITY lol2 "
       "'&lol;&lol;&lol;'>]>" +
           std::string(kServerHeader).substr(21),
       "restricted-xml"},
      {"processing instruction between stanzas", false, "<?evil data?>", "restricted-xml"},
      {"processing instruction in a stanza", false, "<message><?evil data?></message>",
       "restricted-xml"},
      {"other encoding", true,
       "<?xml version='1.0' encoding='ISO-8859-1'?>" + std::string(kServerHeader).substr(21),
       "unsupported-encoding"},
      {"mismatched tags", false, "<message><body></message>", "not-well-formed"},
      {"undefined entity", false, "<message>&lol;</message>", "not-well-formed"},
      {"invalid UTF-8", false, "<message><body>\xff\xfe</body></message>", "not-well-formed"},
      {"undeclared prefix", false, "<foo:bar/>", "bad-namespace-prefix"},
      {"nesting too deep", false, deep, "policy-violation"},
      {"stanza too large", false, large, "policy-violation"},
      {"stanza too large before sign-in", true, large_before_login, "policy-violation"},
      {"too many namespace declarations", false, namespaces, "policy-violation"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session s;
    if (c.before_header) {
      s.Connect();
    } else {
      s.Open();
    }
    ASSERT_EQ(s.Inject(c.input), EngineResult::kOk);
    EXPECT_EQ(s.engine.GetState(), EngineState::kClosed);
    EXPECT_EQ(s.engine.GetError(), EngineError::kXmlError);
    EXPECT_EQ(s.peer.events, (Events{Write(StreamErrorEnd(c.condition)), "close", "state:closed"}));
    EXPECT_TRUE(s.seen.empty());
    EXPECT_EQ(s.Inject("<message/>"), EngineResult::kBadState);
  }
}

TEST(StreamEngineTest, AStanzaSplitAtEveryByteOffsetGivesTheSameResult) {
  const std::string transcript =
      std::string(kServerHeader) + std::string(kFeatures) +
      "<message id='m1' from='bob@example.net/home' type='chat'>"
      "<body>h&amp;i \xc3\xa9 &#x263A;</body><x xmlns='urn:example:x' a='&lt;'/></message> \r\n"
      "<iq type='get' id='q1' from='bob@example.net/home'><ping xmlns='urn:xmpp:ping'/></iq>"
      "<presence id='p1'/>" +
      std::string(kStreamEnd);

  struct Outcome {
    std::vector<std::string> stanzas;
    std::string written;
    EngineError error;
  };
  auto run = [&](const std::vector<std::string_view>& pieces) {
    Session s;
    std::vector<std::string> ids;
    std::vector<std::string> log;
    RecordingHandler printer("printer", &ids, false);
    printer.action = [&](const XmlElem& stanza) {
      log.push_back(XmlWriter::ToString(stanza, kPredeclared));
    };
    EXPECT_EQ(s.engine.AddStanzaHandler(&printer, kLevelObserve), EngineResult::kOk);
    s.Connect();
    for (std::string_view piece : pieces) EXPECT_EQ(s.Inject(piece), EngineResult::kOk);
    return Outcome{log, s.peer.written, s.engine.GetError()};
  };

  const Outcome whole = run({transcript});
  ASSERT_EQ(whole.error, EngineError::kStreamClosed);
  ASSERT_EQ(whole.stanzas.size(), 3u);
  EXPECT_EQ(whole.stanzas[0],
            "<message id=\"m1\" from=\"bob@example.net/home\" type=\"chat\"><body>h&amp;i "
            "\xc3\xa9 \xe2\x98\xba</body><x xmlns=\"urn:example:x\" a=\"&lt;\"/></message>");
  EXPECT_NE(whole.written.find("<iq type=\"error\" id=\"q1\" to=\"bob@example.net/home\">"),
            std::string::npos);
  EXPECT_TRUE(whole.written.ends_with(kStreamEnd));

  const std::string_view all(transcript);
  for (size_t offset = 1; offset < all.size(); ++offset) {
    SCOPED_TRACE(offset);
    const Outcome split = run({all.substr(0, offset), all.substr(offset)});
    EXPECT_EQ(split.stanzas, whole.stanzas);
    EXPECT_EQ(split.written, whole.written);
    EXPECT_EQ(split.error, whole.error);
    if (HasFailure()) break;
  }
  std::vector<std::string_view> bytes;
  for (size_t i = 0; i < all.size(); ++i) bytes.push_back(all.substr(i, 1));
  const Outcome byte_by_byte = run(bytes);
  EXPECT_EQ(byte_by_byte.stanzas, whole.stanzas);
  EXPECT_EQ(byte_by_byte.written, whole.written);
}

}  // namespace
}  // namespace vexalo
