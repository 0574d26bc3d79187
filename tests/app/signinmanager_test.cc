// The sign-in manager's decisions on virtual time: the attempt list, what each failure tells
// the user, the back-off between reconnects, and late answers. The application object and the
// lookups are scripted; the real-server tests (apppeers) cover the whole path.
#include "app/signinmanager.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/accountlist.h"
#include "app/loginmessages.h"
#include "app/settingsstore.h"
#include "base/runtime/eventqueue.h"
#include "platform/memorysecretstore.h"
#include "platform/registryfile.h"
#include "support/testfiles.h"

namespace vexalo {
namespace {

constexpr char kRoot[] = "Software\\Ombrix\\Vexalo";
constexpr char kJid[] = "alice@example.net";

// Answers at once with the proxy it was given.
class AnsweringProxyDetector : public ProxyDetector {
 public:
  explicit AnsweringProxyDetector(const ProxySettings& proxy) : proxy_(proxy) {}
  void Start() override { SignalDetected(this); }
  const ProxySettings& proxy() const override { return proxy_; }
  void Dispose() override { delete this; }

 private:
  ProxySettings proxy_;
};

// Answers when the test says so; tells the test when it was let go.
class HeldServerLookup : public ServerLookup {
 public:
  HeldServerLookup(std::vector<SocketAddress> targets, std::vector<HeldServerLookup*>* pending)
      : targets_(std::move(targets)), pending_(pending) {}
  void Start() override { pending_->push_back(this); }
  const std::vector<SocketAddress>& targets() const override { return targets_; }
  void Dispose() override {
    std::erase(*pending_, this);
    delete this;
  }
  void Answer() { SignalDone(this); }

 private:
  std::vector<SocketAddress> targets_;
  std::vector<HeldServerLookup*>* pending_;
};

class ScriptedLookups : public SignInLookups {
 public:
  ProxyDetector* NewProxyDetector(const ProxyOptions&, const SocketAddress&) override {
    ++detections;
    return new AnsweringProxyDetector(proxy);
  }
  ServerLookup* NewServerLookup(const std::string& domain) override {
    domains.push_back(domain);
    return new HeldServerLookup(targets, &pending);
  }
  // Answers the oldest lookup still running.
  void AnswerLookup() { pending.front()->Answer(); }

  ProxySettings proxy;
  std::vector<SocketAddress> targets;
  int detections = 0;
  std::vector<std::string> domains;
  std::vector<HeldServerLookup*> pending;
};

// Records what the manager asks of the application object.
class RecordingClient : public SignInClient {
 public:
  void SetSignInSink(SignInSink* new_sink) override { sink = new_sink; }
  void Login(LoginSettings settings) override {
    attempts.push_back(settings.attempt);
    const ScopedClearText password(settings.password);
    passwords.emplace_back(password.data(), password.size());
    connected = true;
  }
  void Logout() override {
    ++logouts;
    connected = false;
    if (sink != nullptr) sink->OnSignedOut();
  }
  void Abandon() override {
    ++abandoned;
    connected = false;
  }
  void SendKeepAlive() override {}
  bool HasConnection() const override { return connected; }
  // Only the service's own accounts look names up through tasks; these tests use none.
  StepTaskParent* task_parent() override { return nullptr; }
  XmlErrorKind last_xml_error() const override { return xml_error; }

  SignInSink* sink = nullptr;
  XmlErrorKind xml_error = XmlErrorKind::kNone;
  std::vector<ConnectionAttempt> attempts;
  std::vector<std::string> passwords;
  bool connected = false;
  int logouts = 0;
  int abandoned = 0;
};

class SignInManagerTest : public ::testing::Test, public SlotHost {
 protected:
  SignInManagerTest() {
    lookups_.targets = {SocketAddress("192.0.2.1", 5222, false),
                        SocketAddress("192.0.2.2", 5223, false)};
    Settings record = settings_.Current();
    record.autodetect_proxy = false;
    settings_.Save(record, kSettingsSourceUser);
    SignInManager::Environment env;
    env.app = &client_;
    env.lookups = &lookups_;
    env.accounts = &accounts_;
    env.settings = &settings_;
    env.queue = &queue_;
    env.now_ms = [this] { return now_; };
    // No jitter: the first reconnect waits 5 s.
    env.random = [] { return 0; };
    manager_ = std::make_unique<SignInManager>(std::move(env));
    manager_->SignalLoginState.Connect(this, [this](LoginState s) { states_.push_back(s); });
    manager_->SignalStatus.Connect(this, [this](const std::string& s) { statuses_.push_back(s); });
    manager_->SignalError.Connect(this, [this](const std::string& text, bool retry) {
      errors_.push_back(text);
      retry_offered_.push_back(retry);
    });
  }

  // Signs in and lets the SRV lookup answer: the first attempt goes out.
  void SignInAndLookUp() {
    manager_->SignIn(kJid, SecretText::FromClearText("secret"), "", 0);
    ASSERT_EQ(lookups_.pending.size(), 1u);
    lookups_.AnswerLookup();
  }
  // Fails every attempt still to come with `error`.
  void FailAllAttempts(EngineError error) {
    for (size_t tried = 0; tried < 16 && client_.connected; ++tried) {
      client_.connected = false;
      manager_->HandleConnectionError(error, "");
    }
  }
  // The housekeeping tick at `at_ms` after now.
  void TickAfter(int64_t at_ms) {
    now_ += at_ms;
    manager_->OnHousekeepingTick();
  }
  std::string Text(int id) const { return messages_.Text(id); }

  TempDir dir_;
  RegistryFile registry_{dir_.path() + "/config/vexalo/settings.ini"};
  MemorySecretStore secrets_;
  SettingsStore settings_{&registry_, kRoot, &secrets_};
  AccountList accounts_{&registry_, kRoot, &secrets_};
  LoginMessages messages_{LoginMessages::Language::kEnglish};
  EventQueue queue_;
  ScriptedLookups lookups_;
  RecordingClient client_;
  int64_t now_ = 1'000'000;
  std::unique_ptr<SignInManager> manager_;
  std::vector<LoginState> states_;
  std::vector<std::string> statuses_;
  std::vector<std::string> errors_;
  std::vector<bool> retry_offered_;
};

TEST_F(SignInManagerTest, TriesEveryServerThroughTheProxyThenDirectly) {
  lookups_.proxy.type = PROXY_HTTPS;
  lookups_.proxy.address = SocketAddress("192.0.2.9", 3128, false);
  SignInAndLookUp();
  EXPECT_EQ(lookups_.domains, std::vector<std::string>{"example.net"});
  FailAllAttempts(EngineError::kConnectionClosed);

  ASSERT_EQ(client_.attempts.size(), 4u);
  const struct {
    const char* server;
    ProxyType proxy;
  } expected[] = {{"192.0.2.1:5222", PROXY_HTTPS},
                  {"192.0.2.1:5222", PROXY_NONE},
                  {"192.0.2.2:5223", PROXY_HTTPS},
                  {"192.0.2.2:5223", PROXY_NONE}};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(client_.attempts[i].protocol, ConnectionAttempt::kTcp);
    EXPECT_EQ(client_.attempts[i].server.ToString(), expected[i].server);
    EXPECT_EQ(client_.attempts[i].proxy.type, expected[i].proxy);
    EXPECT_EQ(client_.passwords[i], "secret");
  }
  // Failures of single attempts stay quiet; only the last one reaches the user.
  EXPECT_EQ(errors_, std::vector<std::string>{Text(kMsgNoConnection)});
  EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);
}

TEST_F(SignInManagerTest, NoServerRecordsMeansTheDomainOnTheStandardPort) {
  lookups_.targets.clear();
  SignInAndLookUp();
  ASSERT_EQ(client_.attempts.size(), 1u);
  EXPECT_EQ(client_.attempts[0].server.ToString(), "example.net:5222");
}

TEST_F(SignInManagerTest, ServerOverrideSkipsTheLookup) {
  manager_->SignIn(kJid, SecretText::FromClearText("secret"), "192.0.2.7", 5299);
  EXPECT_TRUE(lookups_.domains.empty());
  ASSERT_EQ(client_.attempts.size(), 1u);
  EXPECT_EQ(client_.attempts[0].server.ToString(), "192.0.2.7:5299");
}

TEST_F(SignInManagerTest, WhatTheLastFailureTellsTheUser) {
  const struct {
    EngineError error;
    XmlErrorKind xml_error;
    int error_message;  // 0: a status line only
    int status;
  } cases[] = {
      {EngineError::kConnectionClosed, XmlErrorKind::kNone, kMsgNoConnection, kMsgOffline},
      {EngineError::kAuthFailed, XmlErrorKind::kNone, kMsgAuthenticationFailed, kMsgOffline},
      {EngineError::kBindFailed, XmlErrorKind::kNone, kMsgInternalServerError, kMsgOffline},
      {EngineError::kStreamClosed, XmlErrorKind::kNone, kMsgServerClosed, kMsgOffline},
      {EngineError::kStreamErrorReceived, XmlErrorKind::kNone, kMsgServerStreamError,
       kMsgOffline},
      {EngineError::kTlsFailed, XmlErrorKind::kNone, kMsgTlsFailed, kMsgOffline},
      {EngineError::kTimedOut, XmlErrorKind::kNone, kMsgTimedOut, kMsgOffline},
      {EngineError::kBoundElsewhere, XmlErrorKind::kNone, kMsgBoundElsewhere, kMsgOffline},
      {EngineError::kOutOfOrder, XmlErrorKind::kNone, kMsgOutOfOrder, kMsgOffline},
      {EngineError::kXmlError, XmlErrorKind::kNone, kMsgBadXml, kMsgOffline},
      {EngineError::kXmlError, XmlErrorKind::kStanzaTooLarge, kMsgStanzaTooLarge, kMsgOffline},
      {EngineError::kXmlError, XmlErrorKind::kRestrictedXml, kMsgRestrictedXml, kMsgOffline},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(EngineErrorName(c.error));
    errors_.clear();
    retry_offered_.clear();
    client_.xml_error = c.xml_error;
    SignInAndLookUp();
    FailAllAttempts(c.error);
    EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);
    if (c.error_message != 0) {
      EXPECT_EQ(errors_, std::vector<std::string>{Text(c.error_message)});
      EXPECT_EQ(retry_offered_, std::vector<bool>{true});
    } else {
      EXPECT_TRUE(errors_.empty());
    }
    EXPECT_EQ(statuses_.back(), Text(c.status));
  }
}

TEST_F(SignInManagerTest, RefusedPasswordIsForgottenAndNotTriedElsewhere) {
  SignInAndLookUp();
  manager_->HandleConnectionError(EngineError::kAuthRejected, "");
  EXPECT_EQ(client_.attempts.size(), 1u);
  EXPECT_EQ(errors_, std::vector<std::string>{Text(kMsgWrongPassword)});
  EXPECT_EQ(retry_offered_, std::vector<bool>{false});
  EXPECT_TRUE(accounts_.Find(kJid).password.empty());
  EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);
}

TEST_F(SignInManagerTest, RefusedStoredTokenRetriesTheSameServerWithThePassword) {
  accounts_.Find(kJid).token = "old-token";
  SignInAndLookUp();
  manager_->HandleConnectionError(EngineError::kAuthRejected, "");
  ASSERT_EQ(client_.attempts.size(), 2u);
  EXPECT_EQ(client_.attempts[1].server, client_.attempts[0].server);
  EXPECT_TRUE(accounts_.Find(kJid).token.empty());
  EXPECT_TRUE(errors_.empty());
}

TEST_F(SignInManagerTest, KnownAccountReconnectsWithDoublingDelays) {
  accounts_.Find(kJid).known_good = true;
  SignInAndLookUp();
  FailAllAttempts(EngineError::kConnectionClosed);
  EXPECT_TRUE(errors_.empty());
  for (int64_t wait_ms : {5000, 10000, 20000, 40000}) {
    SCOPED_TRACE(wait_ms);
    ASSERT_EQ(manager_->login_state(), LoginState::kWaitingToReconnect);
    const size_t lookups = lookups_.domains.size();
    TickAfter(wait_ms - 1000);
    EXPECT_EQ(statuses_.back(), messages_.Text(kMsgReconnectingInSeconds, 1));
    EXPECT_EQ(lookups_.domains.size(), lookups);
    TickAfter(1000);
    ASSERT_EQ(lookups_.domains.size(), lookups + 1);
    lookups_.AnswerLookup();
    FailAllAttempts(EngineError::kConnectionClosed);
  }
}

TEST_F(SignInManagerTest, ATimedOutReconnectIsNamedAndTheBackOffGoesOn) {
  accounts_.Find(kJid).known_good = true;
  SignInAndLookUp();
  FailAllAttempts(EngineError::kTimedOut);
  EXPECT_EQ(errors_, std::vector<std::string>{Text(kMsgTimedOut)});
  EXPECT_EQ(manager_->login_state(), LoginState::kWaitingToReconnect);
  const size_t lookups = lookups_.domains.size();
  TickAfter(5000);
  EXPECT_EQ(lookups_.domains.size(), lookups + 1);
}

TEST_F(SignInManagerTest, LostConnectionWaitsButAConflictSignsOut) {
  for (bool conflict : {false, true}) {
    SCOPED_TRACE(conflict);
    errors_.clear();
    SignInAndLookUp();
    manager_->OnSignedIn(XmppAddress(std::string(kJid) + "/home"));
    EXPECT_EQ(manager_->login_state(), LoginState::kSignedIn);
    client_.connected = false;
    manager_->OnConnectionLost(EngineError::kConnectionClosed, conflict);
    const size_t lookups = lookups_.domains.size();
    TickAfter(60000);
    if (conflict) {
      // Another sign-in took our resource: coming back would only throw it out in turn.
      EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);
      EXPECT_EQ(errors_, std::vector<std::string>{Text(kMsgSignedInElsewhere)});
      EXPECT_EQ(lookups_.domains.size(), lookups);
    } else {
      // Named, though a reconnect follows: the user learns why the contacts went grey.
      EXPECT_EQ(errors_, std::vector<std::string>{Text(kMsgConnectionLost)});
      EXPECT_EQ(lookups_.domains.size(), lookups + 1);
      lookups_.AnswerLookup();
    }
  }
}

TEST_F(SignInManagerTest, AnswersAfterSignOutOrANewSignInAreDropped) {
  manager_->SignIn(kJid, SecretText::FromClearText("secret"), "", 0);
  ASSERT_EQ(lookups_.pending.size(), 1u);
  manager_->SignOut();
  // The running lookup was let go: it can report nothing any more.
  EXPECT_TRUE(lookups_.pending.empty());
  EXPECT_TRUE(client_.attempts.empty());
  EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);

  manager_->SignIn(kJid, SecretText::FromClearText("secret"), "", 0);
  manager_->SignIn(kJid, SecretText::FromClearText("secret"), "", 0);
  ASSERT_EQ(lookups_.pending.size(), 1u);
  lookups_.AnswerLookup();
  EXPECT_EQ(client_.attempts.size(), 1u);
}

TEST_F(SignInManagerTest, NetworkLossAbandonsTheConnectionAndWaits) {
  SignInAndLookUp();
  manager_->OnSignedIn(XmppAddress(std::string(kJid) + "/home"));
  manager_->OnNetworkChanged(false);
  EXPECT_EQ(client_.abandoned, 1);
  EXPECT_EQ(manager_->login_state(), LoginState::kWaitingToReconnect);
  // Signed out or waiting already: nothing more to drop.
  manager_->OnNetworkChanged(false);
  EXPECT_EQ(client_.abandoned, 1);
}

}  // namespace
}  // namespace vexalo
