#include "xmpp/stream/xmppconnection.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/runtime/loopthread.h"
#include "base/runtime/queuetaskrunner.h"
#include "base/runtime/threadregistry.h"
#include "xmpp/stream/constants.h"
#include "support/fakeservicesocket.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {
namespace {

// A pre-login step whose outcome the test decides.
class FakeAuthenticator : public PreLoginAuthenticator {
 public:
  struct Outcome {
    bool authorized = false;
    bool error = false;
    std::string captcha;
  };
  explicit FakeAuthenticator(Outcome outcome) : outcome_(std::move(outcome)) {}

  std::string ChooseMechanism(const std::vector<std::string>&, bool) override { return {}; }
  std::unique_ptr<AuthMechanism> CreateMechanism(std::string_view) override { return nullptr; }
  void StartPreLogin(const XmppAddress& user, const SocketAddress&, const SecretText& password,
                     const SecretText&) override {
    started_for = user.ToString();
    password_length = password.GetLength();
  }
  void Finish() {
    done_ = true;
    SignalAuthDone();
  }
  bool IsAuthDone() const override { return done_; }
  bool IsAuthorized() const override { return done_ && outcome_.authorized; }
  bool HadError() const override { return done_ && outcome_.error; }
  std::string GetCaptchaChallenge() const override { return done_ ? outcome_.captcha : ""; }
  std::string GetAuthCookie() const override { return IsAuthorized() ? "token-1" : ""; }

  std::string started_for;
  size_t password_length = 0;

 private:
  Outcome outcome_;
  bool done_ = false;
};

class Observer : public SlotHost {
 public:
  explicit Observer(XmppConnection* connection) {
    connection->SignalStateChange.Connect(this, [this, connection](EngineState state) {
      states.push_back(state);
      if (state == EngineState::kClosed) {
        error = connection->GetError();
        captcha = connection->GetCaptchaChallenge();
      }
    });
  }
  std::vector<EngineState> states;
  EngineError error = EngineError::kNone;
  std::string captcha;
};

class XmppConnectionTest : public ::testing::Test {
 protected:
  ConnectionSettings Settings() {
    ConnectionSettings settings;
    settings.user = "alice";
    settings.host = "example.net";
    settings.password = SecretText::FromClearText("pw");
    settings.server = SocketAddress(0x7F000001, 5222);
    return settings;
  }
  void Pump() {
    for (int i = 0; i < 20; ++i) ThreadRegistry::Current()->RunFor(1);
  }

  QueueTaskRunner runner_;
};

TEST_F(XmppConnectionTest, ConnectChecksItsArguments) {
  XmppConnection connection(&runner_);
  EXPECT_EQ(connection.Connect(Settings(), nullptr, nullptr), EngineResult::kBadArgument);
  ConnectionSettings bad = Settings();
  bad.user = "al ice";
  EXPECT_EQ(connection.Connect(bad, std::make_unique<FakeServiceSocket>(), nullptr),
            EngineResult::kBadArgument);
  EXPECT_EQ(connection.GetError(), EngineError::kNone);
  EXPECT_EQ(connection.Connect(Settings(), std::make_unique<FakeServiceSocket>(), nullptr),
            EngineResult::kOk);
  EXPECT_EQ(connection.Connect(Settings(), std::make_unique<FakeServiceSocket>(), nullptr),
            EngineResult::kBadState);
}

TEST_F(XmppConnectionTest, PreLoginRefusalWithCaptchaClosesOnceWithTheChallenge) {
  auto* connection = new XmppConnection(&runner_);
  auto socket = std::make_unique<FakeServiceSocket>();
  FakeServiceSocket* raw_socket = socket.get();
  auto authenticator = std::make_unique<FakeAuthenticator>(
      FakeAuthenticator::Outcome{false, false, "captcha-token"});
  FakeAuthenticator* raw_authenticator = authenticator.get();
  Observer observer(connection);
  ASSERT_EQ(connection->Connect(Settings(), std::move(socket), std::move(authenticator)),
            EngineResult::kOk);
  connection->Start();
  Pump();
  EXPECT_EQ(raw_authenticator->started_for, "alice@example.net");
  EXPECT_EQ(raw_authenticator->password_length, 2u);
  EXPECT_EQ(connection->state(), XmppConnection::STATE_PRE_XMPP_LOGIN);
  EXPECT_EQ(raw_socket->connect_to, SocketAddress());  // nothing connects before the step ends
  raw_authenticator->Finish();
  Pump();
  EXPECT_EQ(observer.states, std::vector<EngineState>{EngineState::kClosed});
  EXPECT_EQ(observer.error, EngineError::kAuthRejected);
  EXPECT_EQ(observer.captcha, "captcha-token");
  EXPECT_TRUE(runner_.children().empty());
}

TEST_F(XmppConnectionTest, PreLoginErrorOfItsOwnIsAuthFailed) {
  auto* connection = new XmppConnection(&runner_);
  auto authenticator =
      std::make_unique<FakeAuthenticator>(FakeAuthenticator::Outcome{false, true, ""});
  FakeAuthenticator* raw_authenticator = authenticator.get();
  Observer observer(connection);
  connection->Connect(Settings(), std::make_unique<FakeServiceSocket>(), std::move(authenticator));
  connection->Start();
  Pump();
  raw_authenticator->Finish();
  Pump();
  EXPECT_EQ(observer.error, EngineError::kAuthFailed);
}

TEST_F(XmppConnectionTest, AuthorizedStepHandsItsTokenOnAndConnects) {
  auto* connection = new XmppConnection(&runner_);
  auto socket = std::make_unique<FakeServiceSocket>();
  FakeServiceSocket* raw_socket = socket.get();
  auto authenticator =
      std::make_unique<FakeAuthenticator>(FakeAuthenticator::Outcome{true, false, ""});
  FakeAuthenticator* raw_authenticator = authenticator.get();
  connection->Connect(Settings(), std::move(socket), std::move(authenticator));
  connection->Start();
  Pump();
  raw_authenticator->Finish();
  Pump();
  EXPECT_EQ(connection->GetAuthCookie(), "token-1");
  EXPECT_EQ(raw_socket->connect_to, SocketAddress(0x7F000001, 5222));
  EXPECT_EQ(connection->engine()->GetMechanismChooser(), raw_authenticator);
  raw_socket->Connected();
  EXPECT_EQ(raw_socket->written.rfind("<stream:stream to=\"example.net\"", 0), 0u);
  connection->engine()->Disconnect();
  Pump();
  EXPECT_TRUE(runner_.children().empty());
}

TEST_F(XmppConnectionTest, RefusedConnectRequestEndsTheTask) {
  auto* connection = new XmppConnection(&runner_);
  auto socket = std::make_unique<FakeServiceSocket>();
  socket->accept_connect = false;
  Observer observer(connection);
  connection->Connect(Settings(), std::move(socket), nullptr);
  connection->Start();
  Pump();
  EXPECT_EQ(observer.states, std::vector<EngineState>{EngineState::kClosed});
  EXPECT_EQ(observer.error, EngineError::kNone);
  EXPECT_TRUE(runner_.children().empty());
}

// Services end with their connection.
class IdleService : public StanzaTask {
 public:
  IdleService(StepTaskParent* parent, bool* stopped) : StanzaTask(parent, kLevelThird), stopped_(stopped) {}
  ~IdleService() override { *stopped_ = true; }
  int ProcessStart() override { return STATE_BLOCKED; }

 private:
  bool* stopped_;
};

TEST_F(XmppConnectionTest, ClosedSocketEndsTheConnectionAndItsServices) {
  auto* connection = new XmppConnection(&runner_);
  auto socket = std::make_unique<FakeServiceSocket>();
  FakeServiceSocket* raw_socket = socket.get();
  Observer observer(connection);
  connection->Connect(Settings(), std::move(socket), nullptr);
  connection->Start();
  Pump();
  bool service_gone = false;
  auto* service = new IdleService(connection, &service_gone);
  service->Start();
  Pump();
  EXPECT_NE(service->connection(), nullptr);
  raw_socket->Connected();
  raw_socket->Closed();
  Pump();
  EXPECT_EQ(observer.states.back(), EngineState::kClosed);
  EXPECT_EQ(observer.error, EngineError::kConnectionClosed);
  EXPECT_TRUE(service_gone);
  EXPECT_TRUE(runner_.children().empty());
}

TEST(StanzaTaskTest, MatchResponseIq) {
  const XmppAddress bound("alice@example.net/desk");
  const XmppAddress bob("bob@example.org/phone");
  struct Case {
    const char* answer;
    const XmppAddress* to;
    bool matches;
  } cases[] = {
      {"<iq id='7' type='result' from='bob@example.org/phone'/>", &bob, true},
      {"<iq id='7' type='result' from='bob@example.org'/>", &bob, false},
      {"<iq id='8' type='result' from='bob@example.org/phone'/>", &bob, false},
      {"<iq id='7' type='result'/>", &bob, false},
      {"<message id='7' from='bob@example.org/phone'/>", &bob, false},
      // Requests without "to" went to our own server.
      {"<iq id='7' type='result'/>", &kEmptyAddress, true},
      {"<iq id='7' type='result' from='example.net'/>", &kEmptyAddress, true},
      {"<iq id='7' type='result' from='alice@example.net'/>", &kEmptyAddress, true},
      {"<iq id='7' type='result' from='alice@example.net/desk'/>", &kEmptyAddress, false},
      {"<iq id='7' type='result' from='example.org'/>", &kEmptyAddress, false},
      {"<iq id='7' type='result' from='@@'/>", &kEmptyAddress, false},
  };
  for (const Case& c : cases) {
    std::string text = c.answer;
    text.insert(text.find(' '), " xmlns='jabber:client'");
    std::unique_ptr<XmlElem> answer = XmlElem::ParseFromString(text);
    ASSERT_NE(answer, nullptr) << c.answer;
    EXPECT_EQ(StanzaTask::MatchResponseIq(*answer, *c.to, "7", bound), c.matches) << c.answer;
  }
}

TEST(StanzaTaskTest, IqBuilders) {
  std::unique_ptr<XmlElem> iq = StanzaTask::MakeIq("get", XmppAddress("bob@example.org"), "5");
  EXPECT_EQ(iq->GetAttribute(kQnType), "get");
  EXPECT_EQ(iq->GetAttribute(kQnTo), "bob@example.org");
  EXPECT_EQ(iq->GetAttribute(kQnId), "5");
  std::unique_ptr<XmlElem> bare = StanzaTask::MakeIq("", kEmptyAddress, "");
  EXPECT_EQ(bare->FirstAttribute(), nullptr);
  std::unique_ptr<XmlElem> request = XmlElem::ParseFromString(
      "<iq xmlns='jabber:client' type='get' id='q1' from='bob@example.org/x'>"
      "<query xmlns='jabber:iq:roster'/></iq>");
  std::unique_ptr<XmlElem> result = StanzaTask::MakeIqResult(*request);
  EXPECT_EQ(result->GetAttribute(kQnType), "result");
  EXPECT_EQ(result->GetAttribute(kQnTo), "bob@example.org/x");
  EXPECT_EQ(result->GetAttribute(kQnId), "q1");
  EXPECT_TRUE(StanzaTask::MatchRequestIq(*request, "get", kQnRosterQuery));
  EXPECT_FALSE(StanzaTask::MatchRequestIq(*request, "set", kQnRosterQuery));
  EXPECT_FALSE(StanzaTask::MatchRequestIq(*request, "get", kQnVcard));
}

// Every step of the sign-in has a deadline: a server that goes silent at any point ends the
// attempt with kTimedOut instead of leaving it waiting for ever; one that keeps answering
// within the deadline is given the time it needs.
TEST_F(XmppConnectionTest, SilentServerAtAnyStepEndsTheAttemptWithTimedOut) {
  const std::string header =
      "<stream:stream xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams' "
      "from='example.net' id='s' version='1.0'>";
  const std::string sasl_features =
      "<stream:features><mechanisms xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>"
      "<mechanism>PLAIN</mechanism></mechanisms></stream:features>";
  struct Case {
    const char* name;
    bool pre_login;
    bool tcp_connects;
    std::vector<std::string> server_says;  // one answer per deadline period, then silence
  };
  const Case cases[] = {
      {"TCP connect never completes", false, false, {}},
      {"connected, no stream header", false, true, {}},
      {"silent during SASL", false, true, {header + sasl_features}},
      {"silent before bind", false, true,
       {header + sasl_features, "<success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>"}},
      {"pre-login step never answers", true, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int64_t now = 1;
    QueueTaskRunner runner(nullptr, [&now] { return now; });
    auto* connection = new XmppConnection(&runner);
    auto socket = std::make_unique<FakeServiceSocket>();
    FakeServiceSocket* raw_socket = socket.get();
    Observer observer(connection);
    // Read when the close is reported: the runner deletes the socket soon after.
    int closes_at_end = 0;
    SlotHost closes_watcher;
    connection->SignalStateChange.Connect(&closes_watcher, [&](EngineState state) {
      if (state == EngineState::kClosed) closes_at_end = raw_socket->closes;
    });
    ConnectionSettings settings = Settings();
    settings.use_tls = false;
    settings.allow_clear_login_on_loopback = true;
    settings.step_timeout_ms = 30000;
    std::unique_ptr<FakeAuthenticator> authenticator;
    if (c.pre_login) authenticator = std::make_unique<FakeAuthenticator>(FakeAuthenticator::Outcome{});
    connection->Connect(settings, std::move(socket), std::move(authenticator));
    connection->Start();
    auto pump = [] {
      for (int i = 0; i < 5; ++i) ThreadRegistry::Current()->RunFor(0);
    };
    // Moves the virtual clock on in poll-sized steps.
    auto wait_ms = [&](int64_t ms) {
      for (int64_t waited = 0; waited < ms; waited += 500) {
        now += 500 * 10000;
        runner.PollTasks();
        pump();
      }
    };
    pump();
    if (c.tcp_connects) raw_socket->Connected();
    for (const std::string& answer : c.server_says) {
      // 25 s between answers: slow, but within each step's deadline.
      wait_ms(25000);
      ASSERT_TRUE(observer.states.empty() || observer.states.back() != EngineState::kClosed);
      raw_socket->incoming += answer;
      raw_socket->Readable();
      pump();
    }
    wait_ms(29000);
    EXPECT_TRUE(observer.states.empty() || observer.states.back() != EngineState::kClosed);
    wait_ms(2000);
    ASSERT_FALSE(observer.states.empty());
    EXPECT_EQ(observer.states.back(), EngineState::kClosed);
    EXPECT_EQ(observer.error, EngineError::kTimedOut);
    EXPECT_GE(closes_at_end, 1);
    pump();
    EXPECT_TRUE(runner.children().empty());
  }
}

}  // namespace
}  // namespace vexalo
