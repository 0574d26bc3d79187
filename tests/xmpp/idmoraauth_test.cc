// The account-token step without a network: the service's answers as parsed, the forms we
// send, the server setting, the mechanism choice, and the stored-token path end to end.
#include "xmpp/accounttoken/idmoraauth.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/sockettestutil.h"
#include "xmpp/stream/constants.h"
#include "xmpp/stream/saslcredentialmechanism.h"

namespace vexalo {
namespace {

TEST(IdmoraAuthAnswerTest, ParsesKeyValueLinesWithinBounds) {
  struct Case {
    std::string text;
    bool ok;
    const char* key;
    const char* value;
  };
  const std::string long_value(IdmoraAuthAnswer::kMaxValueBytes, 'v');
  std::string many_lines;
  for (size_t i = 0; i <= IdmoraAuthAnswer::kMaxLines; ++i) many_lines += "K=v\n";
  const Case cases[] = {
      {"SID=abc\nLSID=def\nAuth=ghi\n", true, "LSID", "def"},
      // Runs of CR and LF separate lines; the last one needs no end.
      {"\r\n\r\nSID=abc\r\n\r\nLSID=def", true, "LSID", "def"},
      // The value runs to the end of the line, "=" included; the first line of a key wins.
      {"Url=https://x/?a=b\nUrl=second\n", true, "Url", "https://x/?a=b"},
      {"Error=\n", true, "Error", ""},
      // Keys are exact and case-sensitive.
      {"sid=abc\n", true, "SID", ""},
      {"", true, "SID", ""},
      {"SID=" + long_value + "\n", true, "SID", long_value.c_str()},
      {"SID=" + long_value + "x\n", false, "SID", ""},
      {"<html><body>Welcome</body></html>\n", false, "SID", ""},
      {"=value\n", false, "", ""},
      {"SID=abc\nno equals sign\n", false, "SID", ""},
      {"SID=a\tb\n", false, "SID", ""},
      {std::string("SID=a\0b\n", 8), false, "SID", ""},
      {std::string(IdmoraAuthAnswer::kMaxKeyBytes + 1, 'k') + "=v\n", false, "", ""},
      {many_lines, false, "K", ""},
      {std::string(IdmoraAuthAnswer::kMaxBytes + 1, '\n'), false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    IdmoraAuthAnswer answer;
    EXPECT_EQ(answer.Parse(c.text), c.ok);
    EXPECT_EQ(answer.Get(c.key), c.value);
    if (!c.ok) {
      EXPECT_EQ(answer.size(), 0u);
    }
  }
}

TEST(IdmoraAuthAnswerTest, IssuedTokenIsOneWordWithoutTrailingWhiteSpace) {
  struct Case {
    std::string text;
    const char* token;  // null: refused
  };
  const Case cases[] = {
      {"tok-123_ABC\n", "tok-123_ABC"},
      {"tok\r\n \t", "tok"},
      {"tok", "tok"},
      {" \r\n", nullptr},
      {"", nullptr},
      {"two words\n", nullptr},
      {"tok\nSID=x\n", nullptr},
      {std::string(IdmoraAuthAnswer::kMaxValueBytes + 1, 't'), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string token = "stale";
    EXPECT_EQ(ParseIssuedToken(c.text, &token), c.token != nullptr);
    EXPECT_EQ(token, c.token ? c.token : "");
  }
}

TEST(IdmoraAuthAnswerTest, FormEncoding) {
  EXPECT_EQ(FormEncode("two words"), "two+words");
  EXPECT_EQ(FormEncode("a-z_A.Z!0~9*'()"), "a-z_A.Z!0~9*'()");
  EXPECT_EQ(FormEncode("p@ss&=+%/\n"), "p%40ss%26%3D%2B%25%2F%0A");
  EXPECT_EQ(FormEncode("%20 "), "%2520+");
  EXPECT_EQ(FormEncode(std::string("\0\xff", 2)), "%00%FF");
}

TEST(CaptchaChallengeTest, ComesFromARefusalAndSurvivesItsTextForm) {
  struct Case {
    const char* answer;
    const char* token;
    const char* image_path;
  };
  const Case cases[] = {
      {"Error=CaptchaRequired\nCaptchaToken=ct1\nCaptchaUrl=Captcha?ctoken=ct1\n", "ct1",
       "/accounts/Captcha?ctoken=ct1"},
      {"Error=BadAuthentication\n", "", ""},
      // Both parts are needed.
      {"CaptchaUrl=Captcha?ctoken=ct1\n", "", ""},
      {"CaptchaToken=ct1\n", "", ""},
      // The image stays on the account service.
      {"CaptchaToken=ct1\nCaptchaUrl=//evil.example/x\n", "", ""},
      {"CaptchaToken=ct1\nCaptchaUrl=/x\n", "", ""},
      {"CaptchaToken=ct1\nCaptchaUrl=a//b\n", "", ""},
      {"CaptchaToken=ct1\nCaptchaUrl=Captcha?x=\"<b>\"\n", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    IdmoraAuthAnswer answer;
    ASSERT_TRUE(answer.Parse(c.answer));
    const CaptchaChallenge challenge = CaptchaChallenge::FromAnswer(answer);
    EXPECT_EQ(challenge.token, c.token);
    EXPECT_EQ(challenge.image_path, c.image_path);
    const CaptchaChallenge again = CaptchaChallenge::Parse(challenge.Serialize());
    EXPECT_EQ(again.token, challenge.token);
    EXPECT_EQ(again.image_path, challenge.image_path);
    EXPECT_EQ(challenge.Serialize().empty(), !challenge.required());
  }
  for (const char* text : {"", "garbage", "CaptchaToken=t\nCaptchaImage=/elsewhere/x\n",
                           "CaptchaToken=t\nCaptchaImage=/accounts//evil\n"}) {
    EXPECT_FALSE(CaptchaChallenge::Parse(text).required()) << text;
  }
}

TEST(IdmoraAuthJobTest, ClientAuthForm) {
  IdmoraSettings settings;
  struct Case {
    const char* account;
    const char* password;
    CaptchaAnswer answer;
    const char* body;
  };
  const Case cases[] = {
      // The service's own XMPP accounts sign in as web-mail accounts.
      {"dave@ombrix.com",
       "pw",
       {},
       "Email=dave%40lettrio.com&Passwd=pw&PersistentCookie=false&source=vexalo"},
      {"erin@lettrio.com",
       "pw",
       {},
       "Email=erin%40lettrio.com&Passwd=pw&PersistentCookie=false&source=vexalo"},
      {"erin@postalia.com",
       "pw",
       {},
       "Email=erin%40postalia.com&Passwd=pw&PersistentCookie=false&source=vexalo"},
      {"alice@example.net",
       "p@ss w0rd&=+",
       {},
       "Email=alice%40example.net&Passwd=p%40ss+w0rd%26%3D%2B&PersistentCookie=false"
       "&source=vexalo&accountType=HOSTED"},
      // The answer comes last, a space as "+", the token encoded too.
      {"carol@example.net",
       "pw",
       {"ct/1+", "two words"},
       "Email=carol%40example.net&Passwd=pw&PersistentCookie=false&source=vexalo"
       "&accountType=HOSTED&logintoken=ct%2F1%2B&logincaptcha=two+words"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.account);
    EXPECT_EQ(IdmoraAuthJob::ClientAuthBody(c.account, SecretText::FromClearText(c.password),
                                            c.answer, settings),
              c.body);
  }
}

TEST(IdmoraServerTest, HttpsUnlessAPlainLoopbackServerIsAskedFor) {
  IdmoraServer defaults;
  EXPECT_EQ(defaults.BaseUrl(), "https://www.lettrio.com");
  struct Case {
    const char* text;
    bool allow_plain;
    bool ok;
    const char* base_url;
  };
  const Case cases[] = {
      {"auth.example:8443", false, true, "https://auth.example:8443"},
      {"auth.example:443", true, true, "https://auth.example"},
      {"127.0.0.1:8080", false, true, "https://127.0.0.1:8080"},
      {"127.0.0.1:8080", true, true, "http://127.0.0.1:8080"},
      {"localhost:80", true, true, "http://localhost"},
      {"auth.example:80", true, true, "https://auth.example:80"},
      {"auth.example", true, false, ""},
      {":443", true, false, ""},
      {"auth.example:0", true, false, ""},
      {"auth.example:65536", true, false, ""},
      {"auth.example:44x", true, false, ""},
      {"auth/x:443", true, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    IdmoraServer server;
    EXPECT_EQ(IdmoraServer::FromOverride(c.text, c.allow_plain, &server), c.ok);
    if (c.ok) {
      EXPECT_EQ(server.BaseUrl(), c.base_url);
    }
  }
}

TEST(IdmoraAuthChooserTest, TokenThenCookieThenPlainOutsideTheServiceDomain) {
  const XmppAddress outside("alice@example.net");
  const XmppAddress service("dave@" + std::string(kDefaultDomain));
  const std::vector<std::string> all = {"PLAIN", "X-OMBRIX-COOKIE", "X-OMBRIX-TOKEN"};
  const std::vector<std::string> plain = {"PLAIN", "SCRAM-SHA-1"};
  const std::vector<std::string> cookie_plain = {"X-OMBRIX-COOKIE", "PLAIN"};
  using Held = IdmoraAuth::Held;
  struct Case {
    const char* name;
    std::vector<std::string> offered;
    bool encrypted;
    const XmppAddress* user;
    Held held;
    std::string_view chosen;
  };
  const Case cases[] = {
      {"token first", all, true, &outside, {true, true, true}, kMechanismToken},
      {"token for the service's accounts",
       all,
       true,
       &service,
       {true, true, true},
       kMechanismToken},
      {"cookie without a token", all, true, &outside, {false, true, true}, kMechanismCookie},
      {"token not offered", cookie_plain, true, &service, {true, true, true}, kMechanismCookie},
      {"plain outside", plain, true, &outside, {true, true, true}, kMechanismPlain},
      {"plain with only a password", all, true, &outside, {false, false, true}, kMechanismPlain},
      {"never plain for the service", plain, true, &service, {true, true, true}, ""},
      {"nothing held", all, true, &outside, {false, false, false}, ""},
      {"nothing offered", {}, true, &outside, {true, true, true}, ""},
      {"unencrypted", all, false, &outside, {true, true, true}, ""},
      {"unencrypted plain", plain, false, &outside, {true, true, true}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IdmoraAuth::Choose(c.offered, c.encrypted, *c.user, c.held), c.chosen);
  }
}

// The stored-token path runs the whole object (worker thread, completion message) with no
// request made.
class IdmoraAuthStoredTokenTest : public ::testing::Test, public SlotHost {
 protected:
  IdmoraAuthStoredTokenTest() {
    IdmoraSettings settings;
    settings.server.host = "127.0.0.1";
    settings.server.port = 9;  // nothing there: any request would fail
    auth_ = std::make_unique<IdmoraAuth>(settings);
    auth_->SignalAuthDone.Connect(this, [this] { ++done_; });
    auth_->SignalFreshToken.Connect(this, [this](const std::string&) { ++fresh_; });
  }

  std::unique_ptr<IdmoraAuth> auth_;
  int done_ = 0;
  int fresh_ = 0;
};

TEST_F(IdmoraAuthStoredTokenTest, NothingIsChosenBeforeTheStepIsDone) {
  const std::vector<std::string> all = {"X-OMBRIX-TOKEN", "X-OMBRIX-COOKIE", "PLAIN"};
  EXPECT_EQ(auth_->ChooseMechanism(all, true), "");
  EXPECT_EQ(auth_->CreateMechanism(kMechanismToken), nullptr);
  EXPECT_EQ(auth_->TokenAuthUrl("https://x/", "mail"), "");
  auth_->StartPreLogin(XmppAddress("alice@example.net"), SocketAddress(),
                       SecretText::FromClearText("pw"), SecretText::FromClearText("tok-1"));
  // Started, not yet reported.
  EXPECT_FALSE(auth_->IsAuthDone());
  EXPECT_EQ(auth_->ChooseMechanism(all, true), "");
  EXPECT_EQ(auth_->GetAuthCookie(), "");
  ASSERT_TRUE(RunUntil([this] { return done_ > 0; }));
  EXPECT_EQ(auth_->ChooseMechanism(all, true), kMechanismToken);
}

TEST_F(IdmoraAuthStoredTokenTest, StoredTokenSignsInWithoutARequest) {
  auth_->StartPreLogin(XmppAddress("alice@example.net"), SocketAddress(),
                       SecretText::FromClearText("pw"), SecretText::FromClearText("tok/1 +"));
  ASSERT_TRUE(RunUntil([this] { return done_ > 0; }));
  EXPECT_TRUE(auth_->IsAuthDone());
  EXPECT_TRUE(auth_->IsAuthorized());
  EXPECT_FALSE(auth_->HadError());
  EXPECT_EQ(auth_->GetAuthCookie(), "tok/1 +");
  EXPECT_EQ(auth_->GetCaptchaChallenge(), "");
  EXPECT_EQ(fresh_, 0);  // nothing new was issued

  // The token mechanism presents the account and the token.
  EXPECT_EQ(auth_->ChooseMechanism({"PLAIN", "X-OMBRIX-TOKEN"}, true), kMechanismToken);
  EXPECT_EQ(auth_->ChooseMechanism({"PLAIN", "X-OMBRIX-TOKEN"}, false), "");
  std::unique_ptr<AuthMechanism> mechanism = auth_->CreateMechanism(kMechanismToken);
  ASSERT_NE(mechanism, nullptr);
  std::unique_ptr<XmlElem> auth = mechanism->StartAuth();
  ASSERT_NE(auth, nullptr);
  EXPECT_EQ(auth->GetAttribute(kQnMechanism), kMechanismToken);
  gsize length = 0;
  guchar* decoded = g_base64_decode(auth->OnlyText().c_str(), &length);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(decoded), length),
            std::string("\0alice@example.net\0tok/1 +", 26));
  g_free(decoded);
  // No session was made, so no cookie; PLAIN uses the local part for other servers.
  EXPECT_EQ(auth_->CreateMechanism(kMechanismCookie), nullptr);
  std::unique_ptr<AuthMechanism> plain = auth_->CreateMechanism(kMechanismPlain);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->Name(), kMechanismPlain);
  EXPECT_EQ(auth_->CreateMechanism("SCRAM-SHA-1"), nullptr);

  // The page address carries the token encoded.
  EXPECT_EQ(auth_->TokenAuthUrl("https://mail.example/a?b=c", "mail"),
            "https://127.0.0.1:9/accounts/TokenAuth?auth=tok%2F1+%2B&service=mail"
            "&continue=https%3A%2F%2Fmail.example%2Fa%3Fb%3Dc&source=vexalo");

  // Started once.
  auth_->StartPreLogin(XmppAddress("alice@example.net"), SocketAddress(), SecretText(),
                       SecretText());
  ThreadRegistry::Current()->RunFor(100);
  EXPECT_EQ(done_, 1);
}

TEST_F(IdmoraAuthStoredTokenTest, ServiceAccountNeverFallsBackToPlain) {
  auth_->StartPreLogin(XmppAddress("dave@" + std::string(kDefaultDomain)), SocketAddress(),
                       SecretText::FromClearText("pw"), SecretText::FromClearText("tok"));
  ASSERT_TRUE(RunUntil([this] { return done_ > 0; }));
  EXPECT_EQ(auth_->ChooseMechanism({"PLAIN"}, true), "");
  EXPECT_EQ(auth_->CreateMechanism(kMechanismPlain), nullptr);
}

}  // namespace
}  // namespace vexalo
