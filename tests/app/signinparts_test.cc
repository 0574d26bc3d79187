// The pieces signing in is made of: texts, the service profile, connection lists, the
// reconnect back-off and the stored accounts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/accountlist.h"
#include "app/connectionattempt.h"
#include "app/loginmessages.h"
#include "app/reconnectbackoff.h"
#include "app/serviceprofile.h"
#include "platform/memorysecretstore.h"
#include "platform/registryfile.h"
#include "platform/registrytree.h"
#include "support/testfiles.h"

namespace vexalo {
namespace {

TEST(LoginMessagesTest, GermanForGermanLocalesEnglishOtherwise) {
  const struct {
    const char* locale;
    LoginMessages::Language language;
  } cases[] = {{"de_DE.UTF-8", LoginMessages::Language::kGerman},
               {"de_AT", LoginMessages::Language::kGerman},
               {"de", LoginMessages::Language::kGerman},
               {"de@euro", LoginMessages::Language::kGerman},
               {"en_US.UTF-8", LoginMessages::Language::kEnglish},
               {"C", LoginMessages::Language::kEnglish},
               {"dex", LoginMessages::Language::kEnglish},
               {"", LoginMessages::Language::kEnglish}};
  for (const auto& c : cases) {
    EXPECT_EQ(LoginMessages::LanguageOfLocale(c.locale), c.language) << c.locale;
  }
  const LoginMessages german(LoginMessages::Language::kGerman);
  EXPECT_EQ(german.Text(kMsgWrongPassword), "Falscher Nutzername oder falsches Passwort");
  EXPECT_EQ(german.Text(kMsgReconnectingInSeconds, 12),
            "Verbindung wird in 12 Sek. wiederhergestellt");
  const LoginMessages english(LoginMessages::Language::kEnglish);
  EXPECT_EQ(english.Text(kMsgReconnectingInMinutes, 3), "Reconnecting in 3 min.");
  EXPECT_EQ(english.Text(12345), "");
}

TEST(LoginMessagesTest, LocaleVariablesInOrder) {
  setenv("LANG", "en_GB.UTF-8", 1);
  setenv("LC_MESSAGES", "de_DE.UTF-8", 1);
  unsetenv("LC_ALL");
  EXPECT_EQ(LoginMessages::ForEnvironment().language(), LoginMessages::Language::kGerman);
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(LoginMessages::ForEnvironment().language(), LoginMessages::Language::kEnglish);
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  unsetenv("LANG");
}

TEST(ServiceProfileTest, EnvironmentThenCommandLineOverrideTheDefaults) {
  setenv("VEXALO_SERVICE_XMPP_HOST", "127.0.0.1", 1);
  setenv("VEXALO_SERVICE_XMPP_PORT", "99999", 1);
  std::vector<std::string> errors;
  const ServiceProfile profile = ServiceProfile::FromEnvironment(
      {"account_domain=localhost", "ssltcp_port=8443", "bogus=1", "xmpp_host"}, &errors);
  unsetenv("VEXALO_SERVICE_XMPP_HOST");
  unsetenv("VEXALO_SERVICE_XMPP_PORT");
  EXPECT_EQ(profile.xmpp_host, "127.0.0.1");
  EXPECT_EQ(profile.xmpp_port, 5222);  // 99999 is no port
  EXPECT_EQ(profile.account_domain, "localhost");
  EXPECT_EQ(profile.ssltcp_port, 8443);
  EXPECT_EQ(profile.webmail_domain, ServiceProfile::Defaults().webmail_domain);
  EXPECT_EQ(errors.size(), 3u);
  ServiceProfile edited = ServiceProfile::Defaults();
  EXPECT_FALSE(edited.Set("xmpp_host", "evil host/"));
  EXPECT_FALSE(edited.Set("xmpp_port", "0"));
  EXPECT_FALSE(edited.Set("xmpp_port", "12a"));
  EXPECT_FALSE(edited.Set("relay_scheme", "ftp"));
  EXPECT_FALSE(edited.relay_secure());
  EXPECT_TRUE(edited.Set("relay_scheme", "https"));
  EXPECT_TRUE(edited.Set("relay_port", "8443"));
  EXPECT_TRUE(edited.relay_secure());
  EXPECT_EQ(edited.relay_port, 8443);
}

std::vector<std::string> Describe(const ConnectionList& list) {
  std::vector<std::string> out;
  for (const ConnectionAttempt& attempt : list) {
    out.push_back(std::string(ConnectionAttempt::ProtocolName(attempt.protocol)) + " " +
                  attempt.server.ToString() + (attempt.proxy.type == PROXY_NONE ? "" : " via"));
  }
  return out;
}

TEST(ConnectionListTest, OrderByProxyKind) {
  const std::vector<SocketAddress> two = {SocketAddress("10.0.0.1", 0, false),
                                          SocketAddress("10.0.0.2", 0, false)};
  ProxySettings none;
  EXPECT_EQ(Describe(BuildServiceConnectionList(two, "xmpp.example", 5222, 443, none)),
            (std::vector<std::string>{"tcp 10.0.0.1:5222", "ssltcp 10.0.0.1:443",
                                      "tcp 10.0.0.2:5222", "ssltcp 10.0.0.2:443"}));
  ProxySettings https;
  https.type = PROXY_HTTPS;
  https.address = SocketAddress("10.9.9.9", 3128, false);
  EXPECT_EQ(Describe(BuildServiceConnectionList(two, "xmpp.example", 5222, 443, https)),
            (std::vector<std::string>{"ssltcp 10.0.0.2:443 via", "ssltcp 10.0.0.1:443 via",
                                      "tcp 10.0.0.1:5222 via", "tcp 10.0.0.1:5222",
                                      "ssltcp 10.0.0.1:443", "tcp 10.0.0.2:5222 via",
                                      "tcp 10.0.0.2:5222", "ssltcp 10.0.0.2:443"}));
  ProxySettings socks;
  socks.type = PROXY_SOCKS5;
  EXPECT_EQ(Describe(BuildServiceConnectionList({two[0]}, "xmpp.example", 5222, 443, socks)),
            (std::vector<std::string>{"tcp 10.0.0.1:5222 via", "ssltcp 10.0.0.1:443 via",
                                      "tcp 10.0.0.1:5222", "ssltcp 10.0.0.1:443"}));
  // Nothing resolved: the host name alone.
  EXPECT_EQ(Describe(BuildServiceConnectionList({}, "xmpp.example", 5222, 443, none)),
            (std::vector<std::string>{"tcp xmpp.example:5222", "ssltcp xmpp.example:443"}));
  EXPECT_EQ(Describe(BuildServerConnectionList({SocketAddress("10.0.0.1", 5269, false)}, socks)),
            (std::vector<std::string>{"tcp 10.0.0.1:5269 via", "tcp 10.0.0.1:5269"}));
}

TEST(ReconnectBackoffTest, DoublesUpToHalfAnHourAndCountsDown) {
  int r = 0;
  ReconnectBackoff backoff([&] { return r; });
  r = 32767;
  backoff.Reset(false, 0);
  EXPECT_EQ(backoff.delay_ms(), 5000 + 32767 % 20000);
  r = 0;
  backoff.Reset(false, 0);
  EXPECT_EQ(backoff.delay_ms(), 5000);
  backoff.Reset(true, 0);
  EXPECT_EQ(backoff.delay_ms(), 120000);

  backoff.Reset(false, 0);
  backoff.StartWaiting(0);
  ReconnectBackoff::Step step = backoff.Tick(1500, true, false, false);
  EXPECT_EQ(step.action, ReconnectBackoff::Step::kWait);
  EXPECT_EQ(step.message, kMsgReconnectingInSeconds);
  EXPECT_EQ(step.number, 3);
  step = backoff.Tick(5000, true, false, false);
  EXPECT_EQ(step.action, ReconnectBackoff::Step::kAttemptNow);
  EXPECT_EQ(backoff.delay_ms(), 10000);
  int64_t now = 5000;
  for (int i = 0; i < 20; ++i) {
    now = backoff.next_attempt_ms();
    backoff.Tick(now, true, false, false);
    EXPECT_LE(backoff.delay_ms(), ReconnectBackoff::kMaxDelayMs);
  }
  EXPECT_EQ(backoff.delay_ms(), ReconnectBackoff::kMaxDelayMs);
  step = backoff.Tick(now + 1000, true, false, false);
  EXPECT_EQ(step.message, kMsgReconnectingInMinutes);
  EXPECT_EQ(step.number, (1799 + 30) / 60);
  EXPECT_TRUE(step.long_wait);

  // Suspended: nothing but the notice.
  step = backoff.Tick(backoff.next_attempt_ms() + 1, true, true, false);
  EXPECT_EQ(step.action, ReconnectBackoff::Step::kSuspended);
  EXPECT_EQ(step.message, kMsgSuspended);

  // The network coming back brings the next attempt to 5 s from now, whatever the delay.
  backoff.Tick(now + 2000, false, false, false);
  step = backoff.Tick(now + 2500, true, false, false);
  EXPECT_EQ(backoff.next_attempt_ms(), now + 2500 + 5000);
  EXPECT_EQ(step.number, 5);
}

TEST(AccountListTest, RoundTripKeepsPasswordsInTheSecretStoreOnly) {
  TempDir dir;
  RegistryFile file(dir / "vexalo/settings.ini");
  MemorySecretStore secrets;
  {
    AccountList list(&file, "Software\\Test\\App", &secrets);
    Account& alice = list.Find("alice@example.net");
    std::string password = "wonderland";
    alice.password = ProtectedString::FromPlain(&password);
    alice.remember_password = true;
    alice.known_good = true;
    alice.server_host = "127.0.0.1";
    alice.server_port = 5333;
    alice.tls_required = false;
    alice.mail_state[3] = 7;
    list.Find("bob@example.org");
    list.SetActive("bob@example.org");
    ASSERT_TRUE(list.Save(true, true));
  }
  const RegistryTree tree = file.Read();
  EXPECT_EQ(tree.ToText().find("wonderland"), std::string::npos);
  {
    AccountList list(&file, "Software\\Test\\App", &secrets);
    list.Load();
    ASSERT_EQ(list.accounts().size(), 2u);
    const Account& alice = list.accounts()[0];
    EXPECT_EQ(alice.jid, "alice@example.net");
    EXPECT_EQ(alice.password.Plain(), "wonderland");
    EXPECT_TRUE(alice.remember_password);
    EXPECT_TRUE(alice.known_good);
    EXPECT_EQ(alice.server_host, "127.0.0.1");
    EXPECT_EQ(alice.server_port, 5333u);
    EXPECT_FALSE(alice.tls_required);
    EXPECT_EQ(alice.mail_state[3], 7);
    EXPECT_TRUE(list.accounts()[1].password.empty());
    EXPECT_EQ(list.active(), "bob@example.org");

    // Passwords off: the file and the secret store forget them.
    ASSERT_TRUE(list.Save(true, false));
    std::string secret;
    EXPECT_EQ(secrets.Lookup("Software\\Test\\App\\Accounts\\alice@example.net\\pw", &secret),
              SecretResult::kNotFound);
    // Accounts off: everything goes.
    ASSERT_TRUE(list.Save(false, true));
    EXPECT_FALSE(file.Read().KeyExists("Software\\Test\\App\\Accounts"));
  }
}

// Two processes on one settings folder: each save re-reads the file under its lock and
// changes only what this process changed, so neither drops the account the other stored.
TEST(AccountListTest, TwoProcessesKeepEachOthersAccounts) {
  TempDir dir;
  MemorySecretStore secrets;
  RegistryFile first_file(dir / "vexalo/settings.ini");
  RegistryFile second_file(dir / "vexalo/settings.ini");
  AccountList first(&first_file, "R", &secrets);
  AccountList second(&second_file, "R", &secrets);
  first.Load();
  second.Load();
  auto add = [](AccountList& list, const std::string& jid, std::string password) {
    Account& account = list.Find(jid);
    account.password = ProtectedString::FromPlain(&password);
    account.remember_password = true;
    list.SetActive(jid);
  };
  add(first, "alice@example.net", "a-pass");
  ASSERT_TRUE(first.Save(true, true));
  add(second, "bob@example.net", "b-pass");
  ASSERT_TRUE(second.Save(true, true));
  // The first saves again (a sign-in), still without having seen bob.
  first.Find("alice@example.net").server_host = "127.0.0.1";
  ASSERT_TRUE(first.Save(true, true));

  AccountList reader(&first_file, "R", &secrets);
  reader.Load();
  ASSERT_EQ(reader.accounts().size(), 2u);
  EXPECT_EQ(reader.accounts()[0].jid, "alice@example.net");
  EXPECT_EQ(reader.accounts()[0].server_host, "127.0.0.1");
  EXPECT_EQ(reader.accounts()[1].jid, "bob@example.net");
  EXPECT_EQ(reader.accounts()[1].password.Plain(), "b-pass");
  EXPECT_EQ(reader.active(), "alice@example.net");
}

TEST(AccountListTest, BadNamesAreDroppedAndTheActiveFallsBackToTheFirst) {
  TempDir dir;
  RegistryFile file(dir / "vexalo/settings.ini");
  MemorySecretStore secrets;
  file.Edit([](RegistryTree& tree) {
    tree.SetValue("R\\Accounts", "o",
                  RegValue::MultiString({"not an address@@", "carol@example.com"}));
    tree.SetValue("R\\Accounts", "a", RegValue::String("dave@example.com"));
    tree.SetValue("R\\Accounts\\carol@example.com", "pt", RegValue::Dword(70000));
  });
  AccountList list(&file, "R", &secrets);
  list.Load();
  ASSERT_EQ(list.accounts().size(), 1u);
  EXPECT_EQ(list.active(), "carol@example.com");
  EXPECT_EQ(list.accounts()[0].server_port, 0u);
}

}  // namespace
}  // namespace vexalo
