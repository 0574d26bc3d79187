// Signing in against a real Prosody (and real proxies in front of it): the sign-in manager over
// a real PhoneApp, stored accounts in a settings file of the test's own, passwords in a secret
// store in memory. Covers success, refusal, a server that goes away and comes back, a server
// that cannot be reached, proxies with and without credentials, a second sign-in that takes
// over, suspend and resume, and turning account storage off.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/accountlist.h"
#include "app/chatsession.h"
#include "app/linux/phonewindow.h"
#include "app/linux/proxydetect.h"
#include "app/loginmessages.h"
#include "app/phoneapp.h"
#include "app/serverusersettings.h"
#include "app/settingsstore.h"
#include "app/signinmanager.h"
#include "support/signinpeerfixture.h"
#include "base/runtime/logging.h"
#include "base/runtime/loopthread.h"
#include "base/runtime/queuetaskrunner.h"
#include "base/runtime/threadregistry.h"
#include "base/runtime/timeutils.h"
#include "support/peers/prosodypeer.h"
#include "support/peers/proxypeers.h"
#include "platform/memorysecretstore.h"
#include "platform/registryfile.h"
#include "platform/registrytree.h"
#include "support/peerprocess.h"
#include "support/liveclient.h"

namespace vexalo {
namespace {

constexpr char kAccountKey[] = "Software\\Ombrix\\Vexalo\\Accounts\\alice@localhost";
constexpr char kPasswordKey[] = "Software\\Ombrix\\Vexalo\\Accounts\\alice@localhost\\pw";
constexpr char kJid[] = "alice@localhost";
constexpr char kPassword[] = "s3cret-alice";

// Shared by the tests that do not stop it; made by the first that needs it, stopped with the
// suite (ctest runs each test in a process of its own).
ProsodyPeer* shared_prosody = nullptr;
ProsodyPeer* SharedProsody() {
  if (shared_prosody == nullptr) {
    shared_prosody = new ProsodyPeer();
    shared_prosody->AddUser("alice", kPassword);
  }
  return shared_prosody;
}

class PeerSignInManagerTest : public SignInPeerFixture {
 protected:
  static void TearDownTestSuite() {
    delete shared_prosody;
    shared_prosody = nullptr;
  }

  void SignIn(const std::string& password, uint16_t port) {
    watched_->SignIn(kJid, SecretText::FromClearText(password), "127.0.0.1", port);
  }
  void UseProxy(const SocketAddress& proxy, bool with_auth, const std::string& user,
                const std::string& password) {
    Settings record = settings_.Current();
    record.autodetect_proxy = false;
    record.proxy_host = proxy.IPAsString();
    record.proxy_port = proxy.port();
    record.use_proxy_auth = with_auth;
    record.proxy_username = user;
    std::string clear = password;
    record.proxy_password = ProtectedString::FromPlain(&clear);
    ASSERT_TRUE(settings_.Save(record, kSettingsSourceUser).ok());
  }

  // What the main window gets from the program, with this test's stores.
  PhoneWindow::Environment WindowEnvironment(StartupServices* services,
                                             const std::string& ca_file) {
    PhoneWindow::Environment env;
    env.settings = &settings_;
    env.services = services;
    env.queue = ThreadRegistry::Current();
    env.registry = &registry_;
    env.secrets = &secrets_;
    env.root_key = kRoot;
    env.ca_file = ca_file;
    env.default_resource = kResource;
    return env;
  }

  bool HasState(LoginState state) const {
    return std::find(states_.begin(), states_.end(), state) != states_.end();
  }
  // The accounts are stored on a thread of their own: what is stored is read once it is done.
  void AccountsStored() {
    EXPECT_TRUE(Pump([&] { return !watched_->storing_accounts(); }, 5000));
  }
  std::optional<RegValue> StoredValue(const std::string& name) {
    AccountsStored();
    return registry_.Read().QueryValue(kAccountKey, name);
  }
  bool PasswordKept() {
    AccountsStored();
    return secrets_.items().count(kPasswordKey) != 0;
  }
};

TEST_F(PeerSignInManagerTest, SignsInMarksTheAccountKnownGoodAndSignsOut) {
  ProsodyPeer* prosody = SharedProsody();
  ASSERT_TRUE(prosody->started()) << prosody->error();
  MakeManager(prosody->certificate());
  SignIn(kPassword, prosody->port());
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn)) << testing::PrintToString(statuses_);

  EXPECT_EQ(states_, (std::vector<LoginState>{LoginState::kConnecting, LoginState::kAuthenticating,
                                              LoginState::kSignedIn}));
  EXPECT_TRUE(errors_.empty()) << errors_[0];
  EXPECT_EQ(statuses_.back(), "Signed in as alice@localhost");
  ASSERT_NE(app_.session(), nullptr);
  EXPECT_EQ(app_.bound_address().ToString(), std::string(kJid) + "/" + kResource);
  const Account& account = accounts_.Find(kJid);
  EXPECT_TRUE(account.known_good);
  EXPECT_EQ(account.resource, kResource);
  // Saved with the password (kept in the secret store) and the known-good mark.
  ASSERT_TRUE(StoredValue("k").has_value());
  EXPECT_EQ(StoredValue("k")->AsDword(), 1u);
  EXPECT_TRUE(StoredValue("pw").has_value());
  EXPECT_TRUE(PasswordKept());
  AccountList reloaded(&registry_, kRoot, &secrets_);
  reloaded.Load();
  EXPECT_EQ(reloaded.active(), kJid);
  EXPECT_TRUE(reloaded.Find(kJid).known_good);
  EXPECT_EQ(reloaded.Find(kJid).password.Plain(), kPassword);
  EXPECT_EQ(reloaded.Find(kJid).server_port, prosody->port());
  ASSERT_EQ(log_.Matching("*** Attempting").size(), 1u);
  EXPECT_NE(
      log_.Matching("*** Attempting")[0].find(
          "tcp connection to 127.0.0.1:" + std::to_string(prosody->port()) + " (via none proxy"),
      std::string::npos)
      << log_.Matching("*** Attempting")[0];

  manager_->SignOut();
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedOut, 5000));
  EXPECT_EQ(app_.connection(), nullptr);
  EXPECT_EQ(app_.session(), nullptr);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(statuses_.back(), Text(kMsgOffline));
  // No reconnect after signing out.
  PumpFor(1500);
  EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);
}

TEST_F(PeerSignInManagerTest, WrongPasswordClearsTheStoredPassword) {
  ProsodyPeer* prosody = SharedProsody();
  ASSERT_TRUE(prosody->started()) << prosody->error();
  MakeManager(prosody->certificate());
  SignIn("not-the-password", prosody->port());
  ASSERT_TRUE(Pump([&] { return !errors_.empty(); }));

  EXPECT_EQ(errors_, std::vector<std::string>{Text(kMsgWrongPassword)});
  EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);
  EXPECT_EQ(states_.back(), LoginState::kSignedOut);
  const Account& account = accounts_.Find(kJid);
  EXPECT_TRUE(account.password.empty());
  EXPECT_FALSE(account.known_good);
  EXPECT_FALSE(StoredValue("pw").has_value());
  EXPECT_FALSE(StoredValue("k").has_value());
  EXPECT_FALSE(PasswordKept());
  // Refused credentials are not tried again by themselves.
  PumpFor(1500);
  EXPECT_EQ(log_.Matching("*** Attempting").size(), 1u);
  EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);
}

TEST_F(PeerSignInManagerTest, ReconnectsWhenTheServerComesBack) {
  ProsodyPeer prosody;
  ASSERT_TRUE(prosody.started()) << prosody.error();
  prosody.AddUser("alice", kPassword);
  MakeManager(prosody.certificate());
  SignIn(kPassword, prosody.port());
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn));
  // Stopped at once, while the session's first requests are still being written: a write
  // failing over TLS must end the connection, not leave it "signed in" for ever.

  prosody.Stop();
  ASSERT_TRUE(PumpUntilState(LoginState::kWaitingToReconnect, 10000))
      << testing::PrintToString(states_);
  const Tick lost = state_times_.back();
  // The user is told the connection went, together with the state (Prosody ends its stream
  // with an error on the way down, or the socket just closes); the reconnect attempts add
  // nothing while it is down.
  ASSERT_FALSE(errors_.empty());
  for (const std::string& error : errors_) {
    EXPECT_TRUE(error == Text(kMsgConnectionLost) || error == Text(kMsgServerStreamError) ||
                error == Text(kMsgServerClosed))
        << error;
  }
  const size_t told = errors_.size();
  EXPECT_EQ(app_.session(), nullptr);
  ASSERT_TRUE(prosody.Restart()) << prosody.error();
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn, 30000)) << testing::PrintToString(statuses_);
  // The first wait (5 s with no jitter) was counted down on the status line.
  EXPECT_NE(
      std::find(statuses_.begin(), statuses_.end(), messages_.Text(kMsgReconnectingInSeconds, 4)),
      statuses_.end())
      << testing::PrintToString(statuses_);
  const auto connecting = std::find(states_.rbegin(), states_.rend(), LoginState::kConnecting);
  ASSERT_NE(connecting, states_.rend());
  EXPECT_GE(state_times_[states_.size() - 1 - (connecting - states_.rbegin())] - lost, 4500);
  EXPECT_EQ(errors_.size(), told) << testing::PrintToString(errors_);
  EXPECT_NE(app_.session(), nullptr);
}

TEST_F(PeerSignInManagerTest, UnreachableServer) {
  struct Case {
    const char* name;
    bool known_good;
    bool autorecon;
    bool reconnects;
  };
  const Case cases[] = {
      {"new account", false, true, false},
      {"known good, autorecon on", true, true, true},
      {"known good, autorecon off", true, false, false},
  };
  const uint16_t port = FreeLoopbackPort();  // nobody listens there
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    errors_.clear();
    states_.clear();
    Settings record = settings_.Current();
    record.autorecon = c.autorecon;
    settings_.Save(record, kSettingsSourceUser);
    MakeManager("");
    accounts_.Find(kJid).known_good = c.known_good;
    SignIn(kPassword, port);
    ASSERT_TRUE(Pump([&] {
      return !errors_.empty() || manager_->login_state() == LoginState::kWaitingToReconnect;
    }));
    if (!c.reconnects) {
      EXPECT_EQ(errors_, std::vector<std::string>{Text(kMsgNoConnection)});
      EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);
      continue;
    }
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(statuses_.back(), Text(kMsgReconnecting));
    // The wait is 5 s, then the list is tried again and the next wait is twice as long.
    EXPECT_EQ(manager_->backoff().delay_ms(), 5000);
    const size_t attempts = log_.Matching("*** Attempting").size();
    ASSERT_TRUE(Pump([&] { return log_.Matching("*** Attempting").size() > attempts; }, 8000));
    EXPECT_EQ(manager_->backoff().delay_ms(), 10000);
    ASSERT_TRUE(PumpUntilState(LoginState::kWaitingToReconnect, 5000));
    EXPECT_TRUE(errors_.empty());
    // The password stays for the next try.
    EXPECT_FALSE(accounts_.Find(kJid).password.empty());
    manager_->SignOut();
    EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);
  }
}

// dante checks user names against the system's password database: the test makes a user.
class SystemUser {
 public:
  SystemUser(const std::string& name, const std::string& password) : name_(name) {
    if (getuid() != 0) return;
    RunCommand({"userdel", name_});
    made_ = RunCommand({"useradd", "-M", "-s", "/usr/sbin/nologin", name_}) == 0 &&
            RunCommand({"sh", "-c", "echo '" + name_ + ":" + password + "' | chpasswd"}) == 0;
  }
  ~SystemUser() {
    if (made_) RunCommand({"userdel", name_});
  }
  bool made() const { return made_; }

 private:
  std::string name_;
  bool made_ = false;
};

TEST_F(PeerSignInManagerTest, SignsInThroughAnHttpProxyWithBasicAuthentication) {
  ProsodyPeer* prosody = SharedProsody();
  ASSERT_TRUE(prosody->started()) << prosody->error();
  SquidPeer squid("basic");
  ASSERT_TRUE(squid.started()) << squid.error();
  UseProxy(squid.address(), true, "alice", "wonderland");
  MakeManager(prosody->certificate());
  SignIn(kPassword, prosody->port());
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn)) << testing::PrintToString(statuses_);
  // The first attempt, through the proxy, made it.
  const std::vector<std::string> attempts = log_.Matching("*** Attempting");
  ASSERT_EQ(attempts.size(), 1u);
  EXPECT_NE(attempts[0].find("(via https proxy @ " + squid.address().ToString() + ")"),
            std::string::npos)
      << attempts[0];
}

TEST_F(PeerSignInManagerTest, SignsInThroughSocks5WithUserAndPassword) {
  SystemUser user("vexalosignin", "r4bbit-hole");
  if (!user.made()) GTEST_SKIP() << "needs root to make a system user for dante";
  ProsodyPeer* prosody = SharedProsody();
  ASSERT_TRUE(prosody->started()) << prosody->error();
  DantePeer dante(true);
  ASSERT_TRUE(dante.started()) << dante.error();
  UseProxy(dante.address(), true, "vexalosignin", "r4bbit-hole");
  MakeManager(prosody->certificate());
  SignIn(kPassword, prosody->port());
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn)) << testing::PrintToString(statuses_);
  const std::vector<std::string> attempts = log_.Matching("*** Attempting");
  ASSERT_EQ(attempts.size(), 1u);
  EXPECT_NE(attempts[0].find("(via socks5 proxy @ " + dante.address().ToString() + ")"),
            std::string::npos)
      << attempts[0];
}

TEST_F(PeerSignInManagerTest, ProxyThatWantsCredentialsWeDoNotHave) {
  SquidPeer squid("basic");
  ASSERT_TRUE(squid.started()) << squid.error();
  UseProxy(squid.address(), false, "", "");
  MakeManager("");
  // The direct attempt that follows the proxied one fails too: nobody listens there.
  SignIn(kPassword, FreeLoopbackPort());
  ASSERT_TRUE(Pump([&] { return !errors_.empty(); }));
  EXPECT_EQ(errors_, std::vector<std::string>{Text(kMsgProxyAuthRequired)});
  EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);
  EXPECT_EQ(log_.Matching("*** Attempting").size(), 2u);
}

TEST_F(PeerSignInManagerTest, AnotherSignInWithOurResourceTakesOverForGood) {
  ProsodyPeer* prosody = SharedProsody();
  ASSERT_TRUE(prosody->started()) << prosody->error();
  MakeManager(prosody->certificate());
  SignIn(kPassword, prosody->port());
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn));

  QueueTaskRunner runner;
  LiveClient other(&runner, LocalServerSettings(prosody->port(), "alice", kPassword, kResource),
                   prosody->certificate());
  ASSERT_TRUE(Pump([&] { return !errors_.empty(); }));
  EXPECT_EQ(errors_, std::vector<std::string>{Text(kMsgSignedInElsewhere)});
  EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);
  EXPECT_EQ(app_.session(), nullptr);
  ASSERT_TRUE(Pump([&] { return other.Open() || other.Closed(); }));
  EXPECT_TRUE(other.Open());
  // Well past the first reconnect delay: still signed out, no new attempt.
  PumpFor(6000);
  EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);
  EXPECT_EQ(log_.Matching("*** Attempting").size(), 1u);
  EXPECT_TRUE(other.Open());
}

TEST_F(PeerSignInManagerTest, SuspendHoldsTheReconnectUntilResume) {
  ProsodyPeer* prosody = SharedProsody();
  ASSERT_TRUE(prosody->started()) << prosody->error();
  MakeManager(prosody->certificate());
  SignIn(kPassword, prosody->port());
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn));

  manager_->OnSuspending();
  EXPECT_EQ(manager_->login_state(), LoginState::kWaitingToReconnect);
  // Well past the 5 s delay: the connection is gone, the status says suspended, no attempt.
  PumpFor(6000);
  EXPECT_EQ(app_.connection(), nullptr);
  EXPECT_EQ(manager_->login_state(), LoginState::kWaitingToReconnect);
  EXPECT_EQ(statuses_.back(), Text(kMsgSuspended));
  EXPECT_EQ(log_.Matching("*** Attempting").size(), 1u);
  EXPECT_TRUE(errors_.empty());

  const Tick resumed = TickNow();
  manager_->OnResumed();
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn));
  // The attempt waited for the fresh first delay (5 s with no jitter).
  const auto connecting = std::find(states_.rbegin(), states_.rend(), LoginState::kConnecting);
  ASSERT_NE(connecting, states_.rend());
  const Tick attempt = state_times_[states_.size() - 1 - (connecting - states_.rbegin())];
  EXPECT_GE(attempt - resumed, 5000);
  EXPECT_EQ(log_.Matching("*** Attempting").size(), 2u);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(PeerSignInManagerTest, TurningAccountStorageOffRemovesAccountsAndPasswordsAtOnce) {
  ProsodyPeer* prosody = SharedProsody();
  ASSERT_TRUE(prosody->started()) << prosody->error();
  // The main window's own manager, with its settings upkeep and housekeeping timer.
  StartupServices services;
  PhoneWindow window(WindowEnvironment(&services, prosody->certificate()), std::nullopt, {});
  ASSERT_NE(window.signin(), nullptr);
  ASSERT_TRUE(window.Create());
  Watch(window.signin(), false);
  window.signin()->SignIn(kJid, SecretText::FromClearText(kPassword), "127.0.0.1", prosody->port());
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn));
  ASSERT_TRUE(PasswordKept());
  ASSERT_TRUE(registry_.Read().KeyExists(kAccountKey));

  Settings record = settings_.Current();
  record.store_passwords = false;
  settings_.Save(record, kSettingsSourceUser);
  EXPECT_FALSE(PasswordKept());
  EXPECT_TRUE(registry_.Read().KeyExists(kAccountKey));
  EXPECT_FALSE(StoredValue("pw").has_value());

  record.store_passwords = true;
  settings_.Save(record, kSettingsSourceUser);
  EXPECT_TRUE(PasswordKept());
  record.store_accounts = false;
  settings_.Save(record, kSettingsSourceUser);
  EXPECT_FALSE(PasswordKept());
  EXPECT_FALSE(registry_.Read().KeyExists(std::string(kRoot) + "\\Accounts"));
  // Signing in goes on; nothing is written back by the following ticks.
  PumpFor(1200);
  EXPECT_EQ(window.signin()->login_state(), LoginState::kSignedIn);
  EXPECT_FALSE(registry_.Read().KeyExists(std::string(kRoot) + "\\Accounts"));
  EXPECT_FALSE(PasswordKept());
  window.signin()->SignOut();
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedOut, 5000));
  EXPECT_FALSE(registry_.Read().KeyExists(std::string(kRoot) + "\\Accounts"));
  EXPECT_FALSE(PasswordKept());
}

// The new-mail notice option is mirrored in the server's copy of the user's settings: changed
// by the user while signed in, it is written there (read back at the next sign-in); a server
// without the service gets nothing written.
TEST_F(PeerSignInManagerTest, MailNoticeOptionIsStoredInTheServersCopyOfTheSettings) {
  struct Case {
    bool server_keeps_settings;
  } cases[] = {{true}, {false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server_keeps_settings ? "with the settings service" : "plain server");
    std::vector<std::string> modules;
    if (c.server_keeps_settings) modules.push_back("ombrix_settings");
    ProsodyPeer prosody(modules);
    ASSERT_TRUE(prosody.started()) << prosody.error();
    prosody.AddUser("alice", kPassword);
    StartupServices services;
    PhoneWindow window(WindowEnvironment(&services, prosody.certificate()), std::nullopt, {});
    ASSERT_TRUE(window.Create());
    Watch(window.signin(), false);
    auto sign_in = [&] {
      window.signin()->SignIn(kJid, SecretText::FromClearText(kPassword), "127.0.0.1",
                              prosody.port());
      ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn));
      ASSERT_NE(window.app()->server_settings(), nullptr);
      // The read is answered either way: values, or an error from a plain server.
      PumpFor(500);
    };
    auto set_mail_note = [&](int32_t note) {
      Settings record = settings_.Current();
      record.mail_note = note;
      settings_.Save(record, kSettingsSourceUser);
      PumpFor(500);
    };

    sign_in();
    EXPECT_EQ(window.app()->server_settings()->known(), c.server_keeps_settings);
    set_mail_note(kNoteOff);
    EXPECT_EQ(log_.Matching("nothing stored").size(), c.server_keeps_settings ? 0u : 1u);
    EXPECT_TRUE(log_.Matching("refused the settings").empty());
    EXPECT_EQ(window.signin()->login_state(), LoginState::kSignedIn);
    window.signin()->SignOut();
    ASSERT_TRUE(PumpUntilState(LoginState::kSignedOut, 5000));

    sign_in();
    ServerUserSettings* server = window.app()->server_settings();
    if (c.server_keeps_settings) {
      EXPECT_EQ(server->Value("mailnotifications"), UserSettingValue::kFalse);
      // Unchanged values are kept as the server holds them.
      EXPECT_EQ(server->Value("autoacceptrequests"), UserSettingValue::kFalse);
      set_mail_note(kNoteOn);
      EXPECT_EQ(server->Value("mailnotifications"), UserSettingValue::kTrue);
    } else {
      EXPECT_FALSE(server->known());
    }
    window.signin()->SignOut();
    ASSERT_TRUE(PumpUntilState(LoginState::kSignedOut, 5000));
    set_mail_note(kNoteDefault);
  }
}

}  // namespace
}  // namespace vexalo
