// The real `vexalo --console` executable against a scripted XMPP server over TLS: what the
// client shows when the server sends exact bytes at exact moments.
#include <gtest/gtest.h>
#include <signal.h>

#include <sys/socket.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/consoleclient.h"
#include "support/scriptedxmppserver.h"
#include "xml/stanzasplitter.h"

namespace vexalo {
namespace {

constexpr char kMessage[] =
    "<message from='bob@localhost/x' to='alice@localhost/desk' type='chat'>"
    "<body>last words</body></message>";

class ScriptedConsoleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { signal(SIGPIPE, SIG_IGN); }

  // A server running `script` on each connection, and a console signing in to it.
  void Start(tlstest::TlsTestServer::Script script) {
    tlstest::ServerOptions options;
    options.credentials = pki_.Issue({});
    server_ = std::make_unique<tlstest::TlsTestServer>(options, std::move(script));
    client_ = std::make_unique<ConsoleClient>("secret", pki_.ca_file());
    ASSERT_TRUE(client_->started());
    ASSERT_TRUE(client_->Send("/signin alice@localhost 127.0.0.1:" +
                              std::to_string(server_->port())));
  }
  std::string Log() { return client_->Output() + client_->Stderr(); }

  tlstest::TestPki pki_;
  std::unique_ptr<tlstest::TlsTestServer> server_;
  std::unique_ptr<ConsoleClient> client_;
};

// Every complete stanza before the stream's end, or before the XML that ends it, is shown.
TEST_F(ScriptedConsoleTest, MessageInTheSameReadAsTheStreamsEndIsShown) {
  const std::string endings[] = {
      "</stream:stream>",
      "<stream:error><policy-violation xmlns='urn:ietf:params:xml:ns:xmpp-streams'/>"
      "</stream:error></stream:stream>",
      "<message><body>unclosed</message>",
      [] {
        std::string deep;
        for (int i = 0; i < 10000; ++i) deep += "<a>";
        return "<message>" + deep;
      }(),
  };
  for (const std::string& ending : endings) {
    SCOPED_TRACE(ending.substr(0, 60));
    Start([&](tlstest::ServerConnection& connection) {
      XmppScript script(connection);
      if (!script.SignIn() || !script.AnswerRoster("")) return;
      script.Send(kMessage + ending);
      script.ReadUntil("</stream:stream>");
    });
    ASSERT_TRUE(client_->WaitForLine({"msg", "bob@localhost/x", "last words"})) << Log();
    client_.reset();
    server_.reset();
  }
}

// Each way a connection fails or is lost ends in an error event that says what happened.
TEST_F(ScriptedConsoleTest, FailuresAreExplainedInAnErrorEvent) {
  using Script = std::function<void(XmppScript&)>;
  const std::string too_large =
      "<message from='bob@localhost/x'><body>" + std::string(kMaxSignedInStanzaBytes, 'x') +
      "</body></message>";
  struct Case {
    const char* name;
    Script script;
    const char* error;
  };
  const Case cases[] = {
      {"no STARTTLS offered",
       [](XmppScript& s) {
         s.ReadUntil(">");
         s.Send(std::string(XmppScript::kStreamHeader) + std::string(XmppScript::kSaslFeatures));
         s.ReadUntil("</stream:stream>");
       },
       "No secure (TLS) connection"},
      {"STARTTLS handshake fails",
       [](XmppScript& s) {
         s.ReadUntil(">");
         s.Send(std::string(XmppScript::kStreamHeader) + std::string(XmppScript::kTlsFeatures));
         s.ReadUntil("<starttls");
         s.ReadUntil(">");
         s.Send("<proceed xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>");
         s.Send("this is no TLS record at all\r\n\r\n");
         s.ReadUntil("</stream:stream>");
       },
       "No secure (TLS) connection"},
      {"DTD in the stream",
       [](XmppScript& s) {
         if (!s.StartTls() || !s.ReadUntil("<stream:stream") || !s.ReadUntil(">")) return;
         s.Send("<?xml version='1.0'?><!DOCTYPE x [<!ENTITY a 'aaaa'>]>" +
                std::string(XmppScript::kStreamHeader).substr(21));
         s.ReadUntil("</stream:stream>");
       },
       "The server sent XML that is not allowed"},
      {"stanza before authentication",
       [](XmppScript& s) {
         if (!s.StartTls() || !s.ReadUntil("<stream:stream") || !s.ReadUntil(">")) return;
         s.Send(std::string(XmppScript::kStreamHeader) + std::string(XmppScript::kSaslFeatures));
         s.ReadUntil("</auth>");
         s.Send("<message from='bob@localhost/x'><body>early</body></message>");
         s.ReadUntil("</stream:stream>");
       },
       "The server sent messages before the sign-in was complete"},
      {"bound to another account",
       [](XmppScript& s) {
         if (!s.StartTls() || !s.Authenticate()) return;
         s.Bind("mallory@localhost/desk");
         s.ReadUntil("</stream:stream>");
       },
       "The server assigned an address that is not this account's"},
      {"stanza over the limit after sign-in",
       [&](XmppScript& s) {
         if (!s.SignIn() || !s.AnswerRoster("")) return;
         s.Send(too_large);
         s.ReadUntil("</stream:stream>");
       },
       "The server sent more data at once than is accepted"},
      {"connection reset after sign-in",
       [](XmppScript& s) {
         if (!s.SignIn() || !s.AnswerRoster("")) return;
         s.ReadUntil("<presence");
         linger reset{1, 0};
         setsockopt(s.connection().fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
         s.connection().CloseTcp();
       },
       "The connection to the server was lost"},
      {"server ends its stream after sign-in",
       [](XmppScript& s) {
         if (!s.SignIn() || !s.AnswerRoster("")) return;
         s.Send("</stream:stream>");
         s.ReadUntil("</stream:stream>");
       },
       "The server ended the connection"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool first = true;
    Start([&](tlstest::ServerConnection& connection) {
      // A reconnect after the failure meets a server that stays silent.
      if (!first) return;
      first = false;
      XmppScript script(connection);
      c.script(script);
    });
    ASSERT_TRUE(client_->WaitForLine({"error", c.error})) << Log();
    EXPECT_EQ(client_->Output().find("secret"), std::string::npos);
    client_.reset();
    server_.reset();
  }
}

// A roster result larger than the limit before sign-in (here about 1.4 MB) is shown whole.
TEST_F(ScriptedConsoleTest, RosterLargerThanOneMebibyteLoads) {
  std::string items;
  constexpr int kContacts = 20000;
  for (int i = 0; i < kContacts; ++i) {
    items += "<item jid='contact" + std::to_string(i) +
             "@localhost' name='Contact number " + std::to_string(i) +
             "' subscription='both'><group>Friends</group></item>";
  }
  ASSERT_GT(items.size(), kMaxStanzaBytes);
  Start([&](tlstest::ServerConnection& connection) {
    XmppScript script(connection);
    if (!script.SignIn() || !script.AnswerRoster(items)) return;
    script.ReadUntil("</stream:stream>");
  });
  ASSERT_TRUE(client_->WaitForLine({"roster", "contact19999@localhost", "Contact number 19999",
                                    "both"}))
      << Log().substr(0, 4000);
  EXPECT_TRUE(client_->WaitForLine({"roster", "contact0@localhost"}));
  EXPECT_FALSE(client_->WaitForLine({"error"}, 0, 500));
}

// The password a script hands over in VEXALO_PASSWORD signs in, but is gone from the
// process's environment at once, so no child (dbus-launch, a browser) can inherit it.
TEST_F(ScriptedConsoleTest, PasswordFromTheEnvironmentIsUsedAndRemoved) {
  std::string auth;
  Start([&](tlstest::ServerConnection& connection) {
    XmppScript script(connection);
    if (!script.StartTls() || !script.Authenticate()) return;
    auth = script.last_read();
    if (!script.Bind("alice@localhost/desk") || !script.AnswerRoster("")) return;
    script.ReadUntil("</stream:stream>");
  });
  ASSERT_TRUE(client_->WaitForLine({"state", "signed-in"})) << Log();
  // PLAIN: NUL, "alice", NUL, "secret" in base64.
  EXPECT_NE(auth.find("AGFsaWNlAHNlY3JldA=="), std::string::npos) << auth;
  const std::string environment =
      ReadFile("/proc/" + std::to_string(client_->pid()) + "/environ");
  ASSERT_NE(environment.find("VEXALO_CA_FILE="), std::string::npos);
  EXPECT_EQ(environment.find("secret"), std::string::npos);
}

// A save that fails (here the settings file is a folder, which no permission can mend) is an
// error event, not only a line on stderr.
TEST_F(ScriptedConsoleTest, FailedSaveIsAnErrorEvent) {
  tlstest::ServerOptions options;
  options.credentials = pki_.Issue({});
  server_ = std::make_unique<tlstest::TlsTestServer>(options, [](tlstest::ServerConnection& c) {
    XmppScript script(c);
    if (!script.SignIn() || !script.AnswerRoster("")) return;
    script.ReadUntil("</stream:stream>");
  });
  client_ = std::make_unique<ConsoleClient>("secret", pki_.ca_file());
  ASSERT_TRUE(client_->started());
  std::filesystem::create_directories(client_->home() + "/config/vexalo/settings.ini");
  ASSERT_TRUE(client_->Send("/signin alice@localhost 127.0.0.1:" + std::to_string(server_->port())));
  EXPECT_TRUE(client_->WaitForLine({"error", "The settings could not be saved in " +
                                                 client_->home() + "/config/vexalo/settings.ini"}))
      << Log();
  EXPECT_TRUE(client_->WaitForLine({"state", "signed-in"})) << Log();
}

// /quit ends the process once the server has seen our stream end, not after a fixed pause.
TEST_F(ScriptedConsoleTest, QuitEndsAfterTheStreamClosed) {
  std::atomic<bool> saw_end{false};
  Start([&](tlstest::ServerConnection& connection) {
    XmppScript script(connection);
    if (!script.SignIn() || !script.AnswerRoster("")) return;
    saw_end = script.ReadUntil("</stream:stream>");
  });
  ASSERT_TRUE(client_->WaitForLine({"state", "signed-in"})) << Log();
  ASSERT_TRUE(client_->Send("/quit"));
  EXPECT_EQ(client_->ExitCode(), 0) << Log();
  server_.reset();
  EXPECT_TRUE(saw_end);
}

// Controls that would steer the terminal (C1, bidirectional overrides and isolates) never
// reach the event lines, whichever field they came in.
TEST_F(ScriptedConsoleTest, TerminalControlsFromAPeerAreLeftOut) {
  Start([&](tlstest::ServerConnection& connection) {
    XmppScript script(connection);
    if (!script.SignIn() || !script.AnswerRoster("")) return;
    script.Send(
        "<message from='bob@localhost/\xC2\x9B" "2J' to='alice@localhost/desk' type='chat'>"
        "<body>a\xC2\x85" "b\xE2\x80\xAE" "c\xE2\x81\xA6" "d\xE2\x81\xA9" "e\xC2\x9F" "f\xC3\xA9"
        "</body></message>"
        "<presence from='bob@localhost/r\xE2\x80\xAA'><status>s\xE2\x80\xAD" "t</status></presence>");
    script.ReadUntil("</stream:stream>");
  });
  ASSERT_TRUE(client_->WaitForLine({"msg", "bob@localhost/2J", "abcdef\xC3\xA9"})) << Log();
  ASSERT_TRUE(client_->WaitForLine({"presence", "bob@localhost/r", "available", "st"})) << Log();
  for (const char* control : {"\xC2\x9B", "\xC2\x85", "\xC2\x9F", "\xE2\x80\xAA", "\xE2\x80\xAD",
                              "\xE2\x80\xAE", "\xE2\x81\xA6", "\xE2\x81\xA9"}) {
    EXPECT_EQ(client_->Output().find(control), std::string::npos);
  }
}

// Addresses with an empty local part or resource are refused like any invalid address, and
// a NUL in a line is named rather than cut into another command.
TEST_F(ScriptedConsoleTest, InvalidAddressesAndNulAreRefusedByName) {
  Start([&](tlstest::ServerConnection& connection) {
    XmppScript script(connection);
    if (!script.SignIn() || !script.AnswerRoster("")) return;
    script.ReadUntil("</stream:stream>");
  });
  ASSERT_TRUE(client_->WaitForLine({"state", "signed-in"})) << Log();
  for (const char* address : {"@localhost", "bob@localhost/", "/r"}) {
    const size_t mark = client_->Mark();
    ASSERT_TRUE(client_->Send(std::string("/msg ") + address + " hello"));
    EXPECT_TRUE(client_->WaitForLine({"error", std::string("not a valid address: ") + address},
                                     mark))
        << Log();
  }
  const size_t mark = client_->Mark();
  ASSERT_TRUE(client_->Send(std::string("/ro\0ster", 8)));
  EXPECT_TRUE(client_->WaitForLine({"error", "the line held a NUL character"}, mark)) << Log();
}

}  // namespace
}  // namespace vexalo
