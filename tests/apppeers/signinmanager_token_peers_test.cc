// Signing in a web-mail account through the account-token step, end to end: the sign-in
// manager over a real PhoneApp asks our account service (tests/servers/accountservice.py, over
// HTTPS with a test CA) for a token and signs in to a real Prosody that takes only the tokens
// that service issued (it has no password for these accounts). Covers the token kept for
// reconnects and replaced when the server no longer takes it, its renewal while signed in, a
// captcha answered once, refused or undecided credentials, and a service certificate that makes
// the computer's clock suspect.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/accountauthserver.h"
#include "app/accountlist.h"
#include "app/linux/proxydetect.h"
#include "app/loginmessages.h"
#include "app/phoneapp.h"
#include "app/settingsstore.h"
#include "app/signinmanager.h"
#include "support/signinpeerfixture.h"
#include "base/runtime/logging.h"
#include "base/runtime/loopthread.h"
#include "base/runtime/threadregistry.h"
#include "base/runtime/timeutils.h"
#include "support/tlstestpeer.h"
#include "support/peers/accountservicepeer.h"
#include "support/peers/prosodypeer.h"
#include "platform/memorysecretstore.h"
#include "platform/registryfile.h"
#include "support/peerprocess.h"
#include "xmpp/accounttoken/idmoraauthanswer.h"

namespace vexalo {
namespace {

// The web-mail domain of the built-in service profile: these accounts take the token step.
constexpr char kDomain[] = "lettrio.com";
constexpr char kDave[] = "dave@lettrio.com";
constexpr char kDavePassword[] = "dave-secret";
constexpr char kCarol[] = "carol@lettrio.com";
constexpr char kCarolPassword[] = "carol-secret";

constexpr char kConfig[] = R"({
  "accounts": {"dave@lettrio.com": "dave-secret", "carol@lettrio.com": "carol-secret"},
  "captcha": {"carol@lettrio.com": "two words"},
  "special": {"erin@lettrio.com": "unavailable"}
})";

constexpr int64_t kDayMs = 24LL * 3600 * 1000;

int Count(const std::string& text, const std::string& what) {
  int count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

// The last request to `path` in the service's record (one JSON line), empty when none.
std::string LastRequest(const AccountServicePeer& service, const std::string& path) {
  std::istringstream lines(service.Record());
  std::string line;
  std::string last;
  while (std::getline(lines, line)) {
    if (line.starts_with("{\"path\": \"" + path + "\"")) last = line;
  }
  return last;
}

// What a server of ours saw: client streams (every login of ours starts with TLS; a bare
// connection may be no more than the check that the server listens) and token logins.
struct ServerView {
  int streams = 0;
  int accepted = 0;
  int refused = 0;
};
ServerView View(const ProsodyPeer& prosody, const std::string& account) {
  const std::string log = ReadFile(prosody.log());
  return {Count(log, "Stream encrypted"),
          Count(log, "X-OMBRIX-TOKEN login of " + account + " accepted"),
          Count(log, "X-OMBRIX-TOKEN login of " + account + " refused")};
}

class PeerSignInTokenTest : public SignInPeerFixture {
 protected:
  static void SetUpTestSuite() {
    pki_ = new tlstest::TestPki();
    service_ = new AccountServicePeer(*pki_, AccountServicePeer::Certificate::kValid, kConfig);
    prosody_ = new ProsodyPeer({"ombrix_token"}, service_->TokenHostConfig(*pki_, kDomain));
  }
  static void TearDownTestSuite() {
    delete prosody_;
    delete service_;
    delete pki_;
    prosody_ = nullptr;
    service_ = nullptr;
    pki_ = nullptr;
  }

  PeerSignInTokenTest() : SignInPeerFixture(kVerbose) {}
  ~PeerSignInTokenTest() override {
    manager_.reset();
    AccountAuthServer::Set("");
  }

  void SetUp() override {
    ASSERT_TRUE(service_->started()) << service_->error();
    ASSERT_TRUE(prosody_->started()) << prosody_->error();
    AccountAuthServer::Set(service_->address());
    // The test CA vouches for the account service and for the XMPP server's web-mail host.
    MakeManager(pki_->ca_file(), [this] { return TickNow() + clock_offset_ms_; });
  }

  void SignIn(const std::string& jid, const std::string& password, const ProsodyPeer& server) {
    manager_->SignIn(jid, SecretText::FromClearText(password), "127.0.0.1", server.port());
  }

  // Until the attempt ended in a shown error, the locked-account status, or a sign-in.
  bool PumpUntilSettled() {
    const size_t errors = errors_.size();
    const size_t statuses = statuses_.size();
    return Pump([&] {
      return errors_.size() > errors || manager_->login_state() == LoginState::kSignedIn ||
             (statuses_.size() > statuses && statuses_.back() == Text(kMsgAccountLocked));
    });
  }

  static tlstest::TestPki* pki_;
  static AccountServicePeer* service_;
  static ProsodyPeer* prosody_;

  int64_t clock_offset_ms_ = 0;
};
tlstest::TestPki* PeerSignInTokenTest::pki_ = nullptr;
AccountServicePeer* PeerSignInTokenTest::service_ = nullptr;
ProsodyPeer* PeerSignInTokenTest::prosody_ = nullptr;

TEST_F(PeerSignInTokenTest, TokenCarriesReconnectsAndAStaleOneIsReplacedWithThePassword) {
  // A server of this test's own: it goes away twice.
  ProsodyPeer prosody({"ombrix_token"}, service_->TokenHostConfig(*pki_, kDomain));
  ASSERT_TRUE(prosody.started()) << prosody.error();
  const int issued = service_->Requests("/accounts/IssueAuthToken");
  SignIn(kDave, kDavePassword, prosody);
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn)) << testing::PrintToString(statuses_);

  EXPECT_EQ(states_, (std::vector<LoginState>{LoginState::kConnecting, LoginState::kAuthenticating,
                                              LoginState::kSignedIn}));
  EXPECT_TRUE(errors_.empty()) << testing::PrintToString(errors_);
  EXPECT_EQ(statuses_.back(), "Signed in as dave@lettrio.com");
  EXPECT_EQ(app_.bound_address().ToString(), std::string(kDave) + "/" + kResource);
  // The account holds the token the service issued, and the server took exactly that.
  const std::string first = service_->LastToken(kDave);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(accounts_.Find(kDave).token, first);
  EXPECT_EQ(View(prosody, kDave).accepted, 1);
  EXPECT_EQ(service_->Requests("/accounts/IssueAuthToken"), issued + 1);
  const int sign_ins = service_->Requests("/accounts/ClientAuth");

  // The server restarts: the reconnect presents the kept token and asks the service nothing.
  prosody.Stop();
  ASSERT_TRUE(PumpUntilState(LoginState::kWaitingToReconnect, 10000))
      << testing::PrintToString(states_);
  ASSERT_TRUE(prosody.Restart()) << prosody.error();
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn, 30000)) << testing::PrintToString(statuses_);
  EXPECT_EQ(View(prosody, kDave).accepted, 2);
  EXPECT_EQ(service_->Requests("/accounts/ClientAuth"), sign_ins);
  EXPECT_EQ(service_->Requests("/accounts/IssueAuthToken"), issued + 1);
  EXPECT_EQ(accounts_.Find(kDave).token, first);

  // Now the server no longer takes it: the same attempt goes again with the password, which
  // brings a new token; the user sees nothing of it.
  service_->RevokeTokens();
  prosody.Stop();
  ASSERT_TRUE(PumpUntilState(LoginState::kWaitingToReconnect, 10000));
  ASSERT_TRUE(prosody.Restart()) << prosody.error();
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn, 30000)) << testing::PrintToString(statuses_);
  EXPECT_EQ(View(prosody, kDave).refused, 1);
  EXPECT_EQ(View(prosody, kDave).accepted, 3);
  EXPECT_EQ(service_->Requests("/accounts/ClientAuth"), sign_ins + 1);
  const std::string second = service_->LastToken(kDave);
  EXPECT_NE(second, first);
  EXPECT_EQ(accounts_.Find(kDave).token, second);
  // Only the server going away is reported; the token's replacement is not.
  for (const std::string& error : errors_) {
    EXPECT_TRUE(error == Text(kMsgConnectionLost) ||
                error == Text(kMsgServerStreamError) ||
                error == Text(kMsgServerClosed))
        << error;
  }
  EXPECT_FALSE(accounts_.Find(kDave).password.empty());

  // Neither token nor password ever reached the log.
  const std::string log = log_.text();
  for (const std::string& secret : {first, second, std::string(kDavePassword)}) {
    EXPECT_EQ(log.find(secret), std::string::npos) << secret;
  }

  // Signing out lets go of the token.
  manager_->SignOut();
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedOut, 5000));
  EXPECT_EQ(accounts_.Find(kDave).token, "");
}

TEST_F(PeerSignInTokenTest, TokenIsRenewedWhileSignedInWhenItIsDue) {
  SignIn(kDave, kDavePassword, *prosody_);
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn)) << testing::PrintToString(statuses_);
  const std::string first = accounts_.Find(kDave).token;
  ASSERT_EQ(first, service_->LastToken(kDave));
  const int streams = View(*prosody_, kDave).streams;
  ASSERT_GE(streams, 1);
  struct Case {
    const char* name;
    int64_t days_later;
    bool renewed;
  };
  const Case cases[] = {
      // Renewal comes five to ten days after a token was issued (here: five, no jitter).
      {"after four days", 4, false},
      {"after six days", 6, true},
      // The renewed token is good for another five days.
      {"a day later", 7, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int sign_ins = service_->Requests("/accounts/ClientAuth");
    const std::string before = accounts_.Find(kDave).token;
    clock_offset_ms_ = c.days_later * kDayMs;
    if (c.renewed) {
      ASSERT_TRUE(Pump([&] { return accounts_.Find(kDave).token != before; }, 10000));
      EXPECT_EQ(accounts_.Find(kDave).token, service_->LastToken(kDave));
      EXPECT_EQ(service_->Requests("/accounts/ClientAuth"), sign_ins + 1);
    } else {
      PumpFor(1200);
      EXPECT_EQ(accounts_.Find(kDave).token, before);
      EXPECT_EQ(service_->Requests("/accounts/ClientAuth"), sign_ins);
    }
    // Renewing leaves the connection alone.
    EXPECT_EQ(manager_->login_state(), LoginState::kSignedIn);
    EXPECT_EQ(View(*prosody_, kDave).streams, streams);
  }
  EXPECT_NE(accounts_.Find(kDave).token, first);
  EXPECT_TRUE(errors_.empty()) << testing::PrintToString(errors_);
}

TEST_F(PeerSignInTokenTest, SigningOutCutsARenewalShort) {
  SignIn(kDave, kDavePassword, *prosody_);
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn)) << testing::PrintToString(statuses_);
  // The renewal is due and starts at this tick; the user signs out before it is back.
  clock_offset_ms_ = 6 * kDayMs;
  manager_->OnHousekeepingTick();
  manager_->SignOut();
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedOut, 5000));
  // Long enough for an exchange over loopback to come back: it must not bring the token back.
  PumpFor(1500);
  EXPECT_EQ(accounts_.Find(kDave).token, "");
}

TEST_F(PeerSignInTokenTest, CaptchaAnswerGoesWithTheNextSignInOnly) {
  const ServerView server = View(*prosody_, kCarol);
  SignIn(kCarol, kCarolPassword, *prosody_);
  ASSERT_TRUE(PumpUntilSettled());
  // No dialog: the status says the account is locked, and the challenge waits for the UI.
  EXPECT_TRUE(errors_.empty()) << testing::PrintToString(errors_);
  EXPECT_EQ(statuses_.back(), Text(kMsgAccountLocked));
  EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);
  CaptchaChallenge challenge = CaptchaChallenge::Parse(manager_->captcha_challenge());
  ASSERT_TRUE(challenge.required()) << manager_->captcha_challenge();
  EXPECT_EQ(challenge.image_path, "/accounts/Captcha?ctoken=" + challenge.token);
  // The password stays; no XMPP server heard of the attempt.
  EXPECT_FALSE(accounts_.Find(kCarol).password.empty());
  EXPECT_EQ(View(*prosody_, kCarol).streams, server.streams);

  struct Case {
    const char* answer;
    bool signed_in;
  };
  const Case cases[] = {
      // A wrong answer brings a new challenge; the right one (a space in it) signs in.
      {"one word", false},
      {"two words", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    manager_->SetCaptchaAnswer(c.answer);
    // The sign-in page submits the stored password.
    manager_->SignIn(kCarol, SecretText(), "127.0.0.1", prosody_->port());
    ASSERT_TRUE(PumpUntilSettled());
    const std::string sent = LastRequest(*service_, "/accounts/ClientAuth");
    EXPECT_NE(sent.find("\"logintoken\": \"" + challenge.token + "\", \"logincaptcha\": \"" +
                        c.answer + "\""),
              std::string::npos)
        << sent;
    EXPECT_TRUE(errors_.empty()) << testing::PrintToString(errors_);
    if (c.signed_in) {
      EXPECT_EQ(manager_->login_state(), LoginState::kSignedIn);
      EXPECT_EQ(manager_->captcha_challenge(), "");
      EXPECT_EQ(View(*prosody_, kCarol).accepted, server.accepted + 1);
      EXPECT_EQ(accounts_.Find(kCarol).token, service_->LastToken(kCarol));
    } else {
      EXPECT_EQ(statuses_.back(), Text(kMsgAccountLocked));
      const CaptchaChallenge again = CaptchaChallenge::Parse(manager_->captcha_challenge());
      ASSERT_TRUE(again.required());
      EXPECT_NE(again.token, challenge.token);
      challenge = again;
    }
  }
  // The answer was used up: the next sign-in goes without it (and this service wants one
  // every time).
  manager_->SignOut();
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedOut, 5000));
  manager_->SignIn(kCarol, SecretText(), "127.0.0.1", prosody_->port());
  ASSERT_TRUE(PumpUntilSettled());
  const std::string sent = LastRequest(*service_, "/accounts/ClientAuth");
  EXPECT_EQ(sent.find("logintoken"), std::string::npos) << sent;
  EXPECT_EQ(statuses_.back(), Text(kMsgAccountLocked));
  EXPECT_EQ(log_.text().find("two words"), std::string::npos);
}

TEST_F(PeerSignInTokenTest, RefusedOrUndecidedCredentialsNeverReachTheServer) {
  struct Case {
    const char* name;
    const char* account;
    const char* password;
    int message;
    bool retry;
    bool password_kept;
  };
  const Case cases[] = {
      // Refused: the password is wrong and goes; no retrying it.
      {"wrong password", kDave, "not-the-password", kMsgWrongPassword, false, false},
      // The service could not decide: no verdict on the password, which stays.
      {"service unavailable", "erin@lettrio.com", "erin-secret", kMsgAuthenticationFailed, true,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    errors_.clear();
    retry_offered_.clear();
    const int streams = View(*prosody_, c.account).streams;
    const int tokens = service_->Requests("/accounts/IssueAuthToken");
    SignIn(c.account, c.password, *prosody_);
    ASSERT_TRUE(Pump([&] { return !errors_.empty(); }));
    EXPECT_EQ(errors_, std::vector<std::string>{Text(c.message)});
    EXPECT_EQ(retry_offered_, std::vector<bool>{c.retry});
    EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);
    const Account& account = accounts_.Find(c.account);
    EXPECT_EQ(!account.password.empty(), c.password_kept);
    EXPECT_EQ(account.token, "");
    // No token, and no XMPP login with anything else instead.
    EXPECT_EQ(service_->Requests("/accounts/IssueAuthToken"), tokens);
    EXPECT_EQ(View(*prosody_, c.account).streams, streams);
    // Nor a try of its own later.
    PumpFor(1200);
    EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);
    EXPECT_EQ(View(*prosody_, c.account).streams, streams);
  }
  EXPECT_EQ(log_.text().find("CheckClock"), std::string::npos);
}

TEST_F(PeerSignInTokenTest, ServiceCertificateOutOfDateMakesTheClockSuspect) {
  AccountServicePeer expired(*pki_, AccountServicePeer::Certificate::kExpired, kConfig);
  AccountServicePeer untrusted(*pki_, AccountServicePeer::Certificate::kUntrusted, kConfig);
  ASSERT_TRUE(expired.started()) << expired.error();
  ASSERT_TRUE(untrusted.started()) << untrusted.error();
  struct Case {
    const char* name;
    const AccountServicePeer* service;
    bool known_good;
    int message;
    bool clock_checked;
  };
  const Case cases[] = {
      // Asked even for an account that signed in before (which would otherwise just wait and
      // try again).
      {"expired", &expired, true, kMsgClockExplanation, true},
      // Any other certificate trouble says nothing about the clock.
      {"untrusted", &untrusted, false, kMsgAuthenticationFailed, false},
  };
  const std::regex check_clock(R"(CheckClock @ \d\d:\d\d:\d\d \d\d\.\d\d\.\d{4} \[[+-]\d{4}\])");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    errors_.clear();
    retry_offered_.clear();
    const size_t logged = log_.text().size();
    const int streams = View(*prosody_, kDave).streams;
    AccountAuthServer::Set(c.service->address());
    accounts_.Find(kDave).known_good = c.known_good;
    SignIn(kDave, kDavePassword, *prosody_);
    ASSERT_TRUE(Pump([&] { return !errors_.empty(); }));
    EXPECT_EQ(errors_, std::vector<std::string>{Text(c.message)});
    EXPECT_EQ(retry_offered_, std::vector<bool>{true});
    EXPECT_EQ(manager_->login_state(), LoginState::kSignedOut);
    const std::string log = log_.text().substr(logged);
    EXPECT_EQ(std::regex_search(log, check_clock), c.clock_checked) << log;
    EXPECT_EQ(Count(log, "CheckClock @"), c.clock_checked ? 1 : 0);
    // The password never went to a server whose certificate was refused, nor anywhere else.
    EXPECT_EQ(c.service->Record(), "");
    EXPECT_EQ(View(*prosody_, kDave).streams, streams);
    EXPECT_FALSE(accounts_.Find(kDave).password.empty());

    // Retry once the service presents a good certificate again: signed in.
    AccountAuthServer::Set(service_->address());
    SignIn(kDave, "", *prosody_);
    ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn)) << testing::PrintToString(statuses_);
    EXPECT_EQ(errors_.size(), 1u);
    manager_->SignOut();
    ASSERT_TRUE(PumpUntilState(LoginState::kSignedOut, 5000));
  }
}

}  // namespace
}  // namespace vexalo
