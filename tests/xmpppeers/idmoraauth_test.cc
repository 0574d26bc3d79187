// The account-token step against our account service (tests/servers/accountservice.py) over
// real HTTPS with certificates made for the test: tokens issued and re-used, refusals and
// captchas, certificate and proxy trouble (through a real squid), answers that are errors,
// and a real Prosody login that follows the step.
#include "xmpp/accounttoken/idmoraauth.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/http/asynchttprequest.h"
#include "base/http/httpclient.h"
#include "base/runtime/logging.h"
#include "base/http/percentencoding.h"
#include "base/runtime/queuetaskrunner.h"
#include "support/scriptedtcpserver.h"
#include "support/sockettestutil.h"
#include "support/tlstestpeer.h"
#include "support/peers/accountservicepeer.h"
#include "support/peers/prosodypeer.h"
#include "support/peers/proxypeers.h"
#include "support/logcapture.h"
#include "support/peerprocess.h"
#include "xmpp/stream/constants.h"
#include "xmpp/stream/saslcredentialmechanism.h"
#include "support/liveclient.h"

namespace vexalo {
namespace {

using Certificate = AccountServicePeer::Certificate;

constexpr const char* kConfig = R"({
  "accounts": {"alice@example.net": "p@ss w0rd&=+%",
               "dave@lettrio.com": "dave-secret",
               "erin@postalia.com": "erin-secret",
               "carol@example.net": "carol-secret",
               "alice@localhost": "wonderland",
               "nosession@example.net": "x", "emptytoken@example.net": "x"},
  "captcha": {"carol@example.net": "two words"},
  "special": {"nosession@example.net": "nosession", "garbage@example.net": "garbage",
              "unavailable@example.net": "unavailable", "status500@example.net": "status500",
              "huge@example.net": "huge", "manylines@example.net": "manylines",
              "silent@example.net": "silent", "emptytoken@example.net": "emptytoken"}
})";

// What an IdmoraAuth reported, and the step itself.
struct AuthRun : public SlotHost {
  explicit AuthRun(const IdmoraSettings& settings) : auth(std::make_unique<IdmoraAuth>(settings)) {
    auth->SignalFreshToken.Connect(this, [this](const std::string& t) { fresh.push_back(t); });
    auth->SignalProxyAuthRequired.Connect(this, [this] { ++proxy_auth; });
    auth->SignalCertificateExpired.Connect(this, [this] { ++expired; });
    auth->SignalCertificateRejected.Connect(this, [this] { ++rejected; });
    auth->SignalAuthDone.Connect(this, [this] { ++done; });
  }
  bool Finish(const std::string& account, const std::string& password,
              const std::string& stored_token = "") {
    auth->StartPreLogin(XmppAddress(account), SocketAddress(), SecretText::FromClearText(password),
                        SecretText::FromClearText(stored_token));
    return RunUntil([this] { return done > 0; });
  }

  std::unique_ptr<IdmoraAuth> auth;
  std::vector<std::string> fresh;
  int proxy_auth = 0;
  int expired = 0;
  int rejected = 0;
  int done = 0;
};

class PeerIdmoraAuthTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki_ = new tlstest::TestPki();
    service_ = new AccountServicePeer(*pki_, Certificate::kValid, kConfig);
  }
  static void TearDownTestSuite() {
    delete service_;
    delete pki_;
    service_ = nullptr;
    pki_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(service_->started()) << service_->error(); }

  static IdmoraSettings Settings(uint16_t port) {
    IdmoraSettings settings;
    settings.server.host = "127.0.0.1";
    settings.server.port = port;
    settings.ca_file = pki_->ca_file();
    settings.user_agent = "Vexalo/test";
    return settings;
  }
  static IdmoraSettings Settings() { return Settings(service_->port()); }

  static tlstest::TestPki* pki_;
  static AccountServicePeer* service_;
};
tlstest::TestPki* PeerIdmoraAuthTest::pki_ = nullptr;
AccountServicePeer* PeerIdmoraAuthTest::service_ = nullptr;

// The owner side of a background request: the completion message lands here.
class Owner : public MessageTarget {
 public:
  void HandleMessage(QueuedMessage* msg) override {
    done = true;
    delete msg->payload;
  }
  bool done = false;
};

// What a browser would get for `url` (redirects not followed).
struct Page {
  int status = 0;
  std::string location;
  std::string body;
};
Page Fetch(const std::string& url, const std::string& ca_file) {
  Page page;
  HttpUrl parsed;
  EXPECT_TRUE(ParseHttpUrl(url, &parsed)) << url;
  EXPECT_TRUE(parsed.secure) << url;
  Owner owner;
  auto* job = new AsyncHttpRequest(&owner, 1);
  job->params().secure = parsed.secure;
  job->params().host = parsed.host;
  job->params().port = parsed.port;
  job->params().path = parsed.path;
  job->params().ca_file = ca_file;
  job->params().fail_redirect = true;
  job->Start();
  EXPECT_TRUE(RunUntil([&] { return owner.done; }));
  if (owner.done) {
    page.status = job->result().status;
    page.location = job->result().location;
    if (job->result().response) page.body = job->result().response->data();
  }
  job->Release();
  return page;
}

TEST_F(PeerIdmoraAuthTest, SignsInIssuesATokenAndKeepsSecretsOutOfTheLog) {
  struct Case {
    const char* account;
    const char* password;
    const char* sent_email;
    bool hosted;
  };
  const Case cases[] = {
      // Any other domain is a hosted one; the password's form characters arrive intact.
      {"alice@example.net", "p@ss w0rd&=+%", "alice@example.net", true},
      // The service's own XMPP accounts sign in as web-mail accounts.
      {"dave@ombrix.com", "dave-secret", "dave@lettrio.com", false},
      {"erin@postalia.com", "erin-secret", "erin@postalia.com", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.account);
    const size_t recorded = service_->Record().size();
    LogCapture log{kSensitive};
    AuthRun run(Settings());
    ASSERT_TRUE(run.Finish(c.account, c.password));
    EXPECT_TRUE(run.auth->IsAuthorized());
    EXPECT_FALSE(run.auth->HadError());
    EXPECT_EQ(run.auth->GetCaptchaChallenge(), "");
    const std::string token = run.auth->GetAuthCookie();
    ASSERT_FALSE(token.empty());
    EXPECT_EQ(run.fresh, std::vector<std::string>{token});
    EXPECT_EQ(run.done, 1);
    EXPECT_EQ(run.proxy_auth + run.expired + run.rejected, 0);

    // What the service was sent: the sign-in, then the token request with its session.
    const std::string record = service_->Record().substr(recorded);
    EXPECT_NE(
        record.find(std::string("\"path\": \"/accounts/ClientAuth\", \"form\": {\"Email\": \"") +
                    c.sent_email + "\", \"Passwd\": \"" + c.password +
                    "\", \"PersistentCookie\": \"false\", \"source\": \"vexalo\""),
        std::string::npos)
        << record;
    EXPECT_EQ(record.find("accountType\": \"HOSTED") != std::string::npos, c.hosted) << record;
    const size_t issue = record.find("/accounts/IssueAuthToken");
    ASSERT_NE(issue, std::string::npos) << record;
    EXPECT_NE(record.find("\"service\": \"mail\", \"Session\": \"true\"", issue),
              std::string::npos);
    auto value = [&](const std::string& key) {
      const size_t at = record.find("\"" + key + "\": \"", issue);
      if (at == std::string::npos) return std::string();
      const size_t start = at + key.size() + 5;
      return record.substr(start, record.find('"', start) - start);
    };
    const std::string sid = value("SID");
    const std::string lsid = value("LSID");
    ASSERT_FALSE(sid.empty());
    ASSERT_FALSE(lsid.empty());

    // The log tells what happened, and none of the secrets.
    const std::string all = log.text();
    EXPECT_NE(all.find("IdmoraAuth Begin"), std::string::npos) << all;
    EXPECT_NE(all.find("IdmoraAuth Status Code: 200"), std::string::npos) << all;
    EXPECT_NE(all.find("[IdmoraAuth] >> POST /accounts/ClientAuth HTTP/1.1"), std::string::npos)
        << all;
    for (const std::string& secret : {std::string(c.password), UrlEncode(c.password),
                                      FormEncode(c.password), token, sid, lsid}) {
      EXPECT_EQ(all.find(secret), std::string::npos) << secret << " in\n" << all;
    }

    // The mechanism presents the token, over an encrypted stream only.
    EXPECT_EQ(run.auth->ChooseMechanism({"PLAIN", "X-OMBRIX-TOKEN"}, true), kMechanismToken);
    EXPECT_EQ(run.auth->ChooseMechanism({"PLAIN", "X-OMBRIX-TOKEN"}, false), "");
  }
}

TEST_F(PeerIdmoraAuthTest, TokenAuthUrlOpensThePageWithTheIssuedToken) {
  AuthRun run(Settings());
  ASSERT_TRUE(run.Finish("alice@example.net", "p@ss w0rd&=+%"));
  ASSERT_TRUE(run.auth->IsAuthorized());
  const std::string continue_url = "https://mail.example.net/inbox?a=1&b=two words";
  const std::string url = run.auth->TokenAuthUrl(continue_url, "mail");
  EXPECT_TRUE(url.starts_with("https://127.0.0.1:" + std::to_string(service_->port()) +
                              "/accounts/TokenAuth?auth="))
      << url;

  // The browser's part: the service sends it on to the page.
  Page page = Fetch(url, pki_->ca_file());
  EXPECT_EQ(page.status, 302);
  EXPECT_EQ(page.location, continue_url);

  // The token was issued for mail only.
  page = Fetch(run.auth->TokenAuthUrl(continue_url, "calendar"), pki_->ca_file());
  EXPECT_EQ(page.status, 403);
}

TEST_F(PeerIdmoraAuthTest, WithoutAServiceTheSessionIsPresentedAsTheCookie) {
  const size_t recorded = service_->Record().size();
  AuthRun run(Settings());
  run.auth->StartAuth(XmppAddress("alice@example.net"), SecretText::FromClearText("p@ss w0rd&=+%"),
                      "");
  ASSERT_TRUE(RunUntil([&] { return run.done > 0; }));
  EXPECT_TRUE(run.auth->IsAuthorized());
  EXPECT_EQ(run.auth->GetAuthCookie(), "");
  EXPECT_TRUE(run.fresh.empty());
  const std::string record = service_->Record().substr(recorded);
  EXPECT_EQ(record.find("IssueAuthToken"), std::string::npos) << record;

  ASSERT_EQ(run.auth->ChooseMechanism({"PLAIN", "X-OMBRIX-COOKIE"}, true), kMechanismCookie);
  std::unique_ptr<AuthMechanism> cookie = run.auth->CreateMechanism(kMechanismCookie);
  ASSERT_NE(cookie, nullptr);
  std::unique_ptr<XmlElem> auth = cookie->StartAuth();
  ASSERT_NE(auth, nullptr);
  EXPECT_EQ(auth->GetAttribute(kQnMechanism), kMechanismCookie);
  gsize length = 0;
  guchar* decoded = g_base64_decode(auth->OnlyText().c_str(), &length);
  const std::string payload(reinterpret_cast<char*>(decoded), length);
  g_free(decoded);
  const std::string prefix("\0alice@example.net\0", 19);
  EXPECT_TRUE(payload.starts_with(prefix));
  EXPECT_GT(payload.size(), prefix.size() + 16);  // the session id the service made
}

TEST_F(PeerIdmoraAuthTest, WrongPasswordIsARefusalNotAnError) {
  LogCapture log{kSensitive};
  AuthRun run(Settings());
  ASSERT_TRUE(run.Finish("alice@example.net", "not-the-password"));
  EXPECT_FALSE(run.auth->IsAuthorized());
  EXPECT_FALSE(run.auth->HadError());
  EXPECT_EQ(run.auth->GetCaptchaChallenge(), "");
  EXPECT_EQ(run.auth->GetAuthCookie(), "");
  EXPECT_TRUE(run.fresh.empty());
  EXPECT_EQ(run.auth->ChooseMechanism({"PLAIN"}, true), "");
  EXPECT_NE(log.text().find("IdmoraAuth answer Error=BadAuthentication"), std::string::npos);
  EXPECT_EQ(log.text().find("not-the-password"), std::string::npos);
}

TEST_F(PeerIdmoraAuthTest, CaptchaChallengeIsAnsweredByTheNextAttempt) {
  LogCapture log{kSensitive};
  AuthRun first(Settings());
  ASSERT_TRUE(first.Finish("carol@example.net", "carol-secret"));
  EXPECT_FALSE(first.auth->IsAuthorized());
  EXPECT_FALSE(first.auth->HadError());
  const CaptchaChallenge challenge = CaptchaChallenge::Parse(first.auth->GetCaptchaChallenge());
  ASSERT_TRUE(challenge.required()) << first.auth->GetCaptchaChallenge();
  EXPECT_EQ(challenge.image_path, "/accounts/Captcha?ctoken=" + challenge.token);

  // The image is where the challenge says.
  const Page image = Fetch(first.auth->CaptchaImageUrl(challenge), pki_->ca_file());
  EXPECT_EQ(image.status, 200);
  EXPECT_EQ(image.body.substr(1, 3), "PNG");

  // A wrong answer brings a new challenge; the right one (a space in it) signs in.
  AuthRun wrong(Settings());
  wrong.auth->SetCaptchaAnswer({challenge.token, "one word"});
  ASSERT_TRUE(wrong.Finish("carol@example.net", "carol-secret"));
  EXPECT_FALSE(wrong.auth->IsAuthorized());
  EXPECT_FALSE(wrong.auth->HadError());
  const CaptchaChallenge again = CaptchaChallenge::Parse(wrong.auth->GetCaptchaChallenge());
  ASSERT_TRUE(again.required());
  EXPECT_NE(again.token, challenge.token);

  const size_t recorded = service_->Record().size();
  AuthRun second(Settings());
  second.auth->SetCaptchaAnswer({again.token, "two words"});
  ASSERT_TRUE(second.Finish("carol@example.net", "carol-secret"));
  EXPECT_TRUE(second.auth->IsAuthorized());
  EXPECT_FALSE(second.auth->GetAuthCookie().empty());
  EXPECT_EQ(second.auth->GetCaptchaChallenge(), "");
  const std::string record = service_->Record().substr(recorded);
  EXPECT_NE(record.find("\"logintoken\": \"" + again.token + "\", \"logincaptcha\": \"two words\""),
            std::string::npos)
      << record;
  EXPECT_EQ(log.text().find("two words"), std::string::npos);
  EXPECT_EQ(log.text().find("two+words"), std::string::npos);
}

TEST_F(PeerIdmoraAuthTest, StoredTokenIsReusedWithoutAnyRequest) {
  // Nothing listens on this port: a request would end in an error.
  AuthRun run(Settings(FreeLoopbackPort()));
  LogCapture log{kSensitive};
  ASSERT_TRUE(run.Finish("alice@example.net", "p@ss w0rd&=+%", "stored-token-123"));
  EXPECT_TRUE(run.auth->IsAuthorized());
  EXPECT_FALSE(run.auth->HadError());
  EXPECT_EQ(run.auth->GetAuthCookie(), "stored-token-123");
  EXPECT_TRUE(run.fresh.empty());
  EXPECT_EQ(log.text().find("stored-token-123"), std::string::npos) << log.text();
  EXPECT_EQ(log.text().find("ClientAuth"), std::string::npos) << log.text();
}

TEST_F(PeerIdmoraAuthTest, AnswersThatAreNoVerdictAreErrors) {
  const char* accounts[] = {
      "nosession@example.net",    // 200 without a session
      "garbage@example.net",      // 200 with a page instead of an answer
      "unavailable@example.net",  // 403, but the service could not decide
      "status500@example.net",    // any other status
      "huge@example.net",         // larger than any answer may be
      "manylines@example.net",    // more lines than any answer has
      "emptytoken@example.net",   // a session, and then a token of white space
  };
  for (const char* account : accounts) {
    SCOPED_TRACE(account);
    AuthRun run(Settings());
    ASSERT_TRUE(run.Finish(account, "x"));
    EXPECT_FALSE(run.auth->IsAuthorized());
    EXPECT_TRUE(run.auth->HadError());
    EXPECT_EQ(run.auth->GetCaptchaChallenge(), "");
    EXPECT_EQ(run.auth->GetAuthCookie(), "");
    EXPECT_TRUE(run.fresh.empty());
  }
}

TEST_F(PeerIdmoraAuthTest, SilentOrAbsentServiceEndsInAnError) {
  IdmoraSettings silent = Settings();
  silent.timeout_ms = 300;
  IdmoraSettings absent = Settings(FreeLoopbackPort());
  struct Case {
    const char* name;
    IdmoraSettings settings;
    const char* account;
    const char* logged;
  };
  const Case cases[] = {
      {"silent", silent, "silent@example.net", "IdmoraAuth request timed out"},
      {"refused", absent, "alice@example.net", "IdmoraAuth request error: HERR_SOCKET"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log{kSensitive};
    AuthRun run(c.settings);
    ASSERT_TRUE(run.Finish(c.account, "x"));
    EXPECT_FALSE(run.auth->IsAuthorized());
    EXPECT_TRUE(run.auth->HadError());
    EXPECT_EQ(run.proxy_auth + run.expired + run.rejected, 0);
    EXPECT_NE(log.text().find(c.logged), std::string::npos) << log.text();
  }
}

TEST_F(PeerIdmoraAuthTest, CertificateTroubleIsAnErrorWithItsSignal) {
  AccountServicePeer expired(*pki_, Certificate::kExpired, kConfig);
  AccountServicePeer untrusted(*pki_, Certificate::kUntrusted, kConfig);
  AccountServicePeer plain(*pki_, Certificate::kNone, kConfig);
  ASSERT_TRUE(expired.started()) << expired.error();
  ASSERT_TRUE(untrusted.started()) << untrusted.error();
  ASSERT_TRUE(plain.started()) << plain.error();
  struct Case {
    const char* name;
    uint16_t port;
    int expired;
    int rejected;
  };
  const Case cases[] = {
      // Outside its validity period: the clock is suspect.
      {"expired", expired.port(), 1, 0},
      {"untrusted", untrusted.port(), 0, 1},
      // A plain HTTP server where HTTPS is expected: no TLS, no verdict.
      {"plain", plain.port(), 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AuthRun run(Settings(c.port));
    ASSERT_TRUE(run.Finish("alice@example.net", "p@ss w0rd&=+%"));
    EXPECT_FALSE(run.auth->IsAuthorized());
    EXPECT_TRUE(run.auth->HadError());
    EXPECT_EQ(run.expired, c.expired);
    EXPECT_EQ(run.rejected, c.rejected);
    EXPECT_EQ(run.proxy_auth, 0);
  }
  // The password never went to a server whose certificate was refused.
  EXPECT_EQ(expired.Record(), "");
  EXPECT_EQ(untrusted.Record(), "");
  EXPECT_EQ(plain.Record(), "");

  // Plain HTTP is taken only when asked for, and only for a loopback host.
  IdmoraSettings settings = Settings();
  ASSERT_TRUE(IdmoraServer::FromOverride("127.0.0.1:" + std::to_string(plain.port()), true,
                                         &settings.server));
  EXPECT_FALSE(settings.server.secure);
  AuthRun run(settings);
  ASSERT_TRUE(run.Finish("alice@example.net", "p@ss w0rd&=+%"));
  EXPECT_TRUE(run.auth->IsAuthorized());
}

TEST_F(PeerIdmoraAuthTest, ServerTakesTheIssuedTokenAndNothingElse) {
  // A server that knows the token mechanism and accepts what the service issued for "mail";
  // it has no password for the account at all.
  ProsodyPeer prosody({"ombrix_token"}, service_->TokenHostConfig(*pki_, "lettrio.com"));
  ASSERT_TRUE(prosody.started()) << prosody.error();
  QueueTaskRunner runner;
  struct Case {
    const char* name;
    const char* password;
    std::string stored_token;
    bool open;
  };
  auto settings = [&](const Case& c) {
    ConnectionSettings s = LocalServerSettings(prosody.port(), "dave", c.password);
    s.host = "lettrio.com";
    s.auth_cookie = SecretText::FromClearText(c.stored_token);
    return s;
  };
  // Fresh: the step asks the service, the login presents the new token.
  const Case fresh{"fresh", "dave-secret", "", true};
  {
    LiveClient client(&runner, settings(fresh), pki_->ca_file(),
                      std::make_unique<IdmoraAuth>(Settings()));
    ASSERT_TRUE(RunUntil([&] { return client.Open() || client.Closed(); }));
    ASSERT_TRUE(client.Open()) << EngineErrorName(client.error) << "\n" << client.Traffic();
    EXPECT_EQ(client.connection()->GetBoundAddress().ToString(), "dave@lettrio.com/test");
    EXPECT_EQ(client.connection()->GetAuthCookie(), service_->LastToken("dave@lettrio.com"));
    EXPECT_NE(client.Traffic().find("mechanism=\"X-OMBRIX-TOKEN\""), std::string::npos)
        << client.Traffic();
  }
  const std::string issued = service_->LastToken("dave@lettrio.com");
  ASSERT_FALSE(issued.empty());
  const Case cases[] = {
      // A stored token needs no password and no request.
      {"stored", "", issued, true},
      // One the service never issued is refused; the password is not tried instead.
      {"unknown", "dave-secret", "never-issued-token", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string record = service_->Record();
    LiveClient client(&runner, settings(c), pki_->ca_file(),
                      std::make_unique<IdmoraAuth>(Settings()));
    ASSERT_TRUE(RunUntil([&] { return client.Open() || client.Closed(); }));
    EXPECT_EQ(client.Open(), c.open) << EngineErrorName(client.error) << "\n" << client.Traffic();
    if (!c.open) {
      EXPECT_EQ(client.error, EngineError::kAuthRejected);
    }
    EXPECT_EQ(service_->Record(), record);
    EXPECT_NE(client.Traffic().find("mechanism=\"X-OMBRIX-TOKEN\""), std::string::npos);
    EXPECT_EQ(client.Traffic().find("mechanism=\"PLAIN\""), std::string::npos);
  }
}

TEST_F(PeerIdmoraAuthTest, ThroughSquidWithBasicCredentials) {
  SquidPeer squid("basic");
  ASSERT_TRUE(squid.started()) << squid.error();
  struct Case {
    const char* name;
    const char* user;
    const char* password;
    bool authorized;
    int proxy_auth;
  };
  const Case cases[] = {
      {"credentials", "alice", "wonderland", true, 0},
      {"none", "", "", false, 1},
      {"wrong", "alice", "looking-glass", false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IdmoraSettings settings = Settings();
    settings.proxy.type = PROXY_HTTPS;
    settings.proxy.address = squid.address();
    settings.proxy.username = c.user;
    settings.proxy.password = SecretText::FromClearText(c.password);
    LogCapture log{kSensitive};
    AuthRun run(settings);
    ASSERT_TRUE(run.Finish("alice@example.net", "p@ss w0rd&=+%"));
    EXPECT_EQ(run.auth->IsAuthorized(), c.authorized);
    EXPECT_EQ(run.auth->HadError(), !c.authorized);
    EXPECT_EQ(run.proxy_auth, c.proxy_auth);
    if (c.password[0] != '\0') {
      EXPECT_EQ(log.text().find(c.password), std::string::npos);
    }
  }
}

class PeerIdmoraLoginTest : public PeerIdmoraAuthTest {
 protected:
  static void SetUpTestSuite() {
    PeerIdmoraAuthTest::SetUpTestSuite();
    prosody_ = new ProsodyPeer();
    prosody_->AddUser("alice", "wonderland");
  }
  static void TearDownTestSuite() {
    delete prosody_;
    prosody_ = nullptr;
    PeerIdmoraAuthTest::TearDownTestSuite();
  }
  void SetUp() override {
    PeerIdmoraAuthTest::SetUp();
    ASSERT_TRUE(prosody_->started()) << prosody_->error();
  }

  QueueTaskRunner runner_;
  static ProsodyPeer* prosody_;
};
ProsodyPeer* PeerIdmoraLoginTest::prosody_ = nullptr;

TEST_F(PeerIdmoraLoginTest, ConnectionSignsInWithPlainAfterTheTokenStep) {
  // alice@localhost is no account of the service's own domain: after the step, the server
  // (which knows none of the service's mechanisms) gets PLAIN over TLS.
  auto authenticator = std::make_unique<IdmoraAuth>(Settings());
  std::vector<std::string> fresh;
  SlotHost host;
  authenticator->SignalFreshToken.Connect(&host, [&](const std::string& t) { fresh.push_back(t); });
  LiveClient client(&runner_, LocalServerSettings(prosody_->port(), "alice", "wonderland"),
                    prosody_->certificate(), std::move(authenticator));
  ASSERT_TRUE(RunUntil([&] { return client.Open() || client.Closed(); }));
  ASSERT_TRUE(client.Open()) << EngineErrorName(client.error) << "\n" << client.Traffic();
  EXPECT_EQ(client.connection()->GetBoundAddress().ToString(), "alice@localhost/test");
  ASSERT_EQ(fresh.size(), 1u);
  EXPECT_EQ(client.connection()->GetAuthCookie(), fresh[0]);
  EXPECT_NE(client.Traffic().find("mechanism=\"PLAIN\""), std::string::npos) << client.Traffic();
}

TEST_F(PeerIdmoraLoginTest, RefusedOrFailedStepEndsTheConnectionBeforeTheLogin) {
  struct Case {
    const char* name;
    const char* user;
    const char* password;
    uint16_t service_port;
    EngineError error;
    bool captcha;
  };
  const Case cases[] = {
      {"refused", "alice", "not-it", service_->port(), EngineError::kAuthRejected, false},
      {"captcha", "carol", "carol-secret", service_->port(), EngineError::kAuthRejected, true},
      {"unreachable", "alice", "wonderland", FreeLoopbackPort(), EngineError::kAuthFailed, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConnectionSettings settings = LocalServerSettings(prosody_->port(), c.user, c.password);
    if (std::string(c.user) == "carol") settings.host = "example.net";
    LiveClient client(&runner_, settings, prosody_->certificate(),
                      std::make_unique<IdmoraAuth>(Settings(c.service_port)));
    ASSERT_TRUE(RunUntil([&] { return client.Closed(); }));
    EXPECT_EQ(client.error, c.error) << EngineErrorName(client.error);
    // Nothing reached the XMPP server.
    EXPECT_EQ(client.Traffic(), "");
    EXPECT_EQ(CaptchaChallenge::Parse(client.captcha).required(), c.captcha) << client.captcha;
  }
}

}  // namespace
}  // namespace vexalo
