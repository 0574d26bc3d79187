// The console's command table against a fake window: what each line does, and what it says
// when the line is wrong.
#include "ui/console/consolecommands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/console/consolefrontend.h"

namespace vexalo {
namespace {

// Records every action as one line; `signed_in` decides whether chat actions find a session.
class FakeWindow : public ConsoleWindow {
 public:
  bool CanSignIn() const override { return true; }
  bool HasStoredPassword(const XmppAddress& jid) const override {
    return jid.WithoutResource().ToString() == stored;
  }
  void SignIn(const std::string& jid, const SecretText& password, const std::string& host,
              uint16_t port) override {
    ScopedClearText clear(password);
    Note("signin " + jid + " [" + std::string(clear.data(), clear.size()) + "] " + host + " " +
         std::to_string(port));
  }
  void SignOut() override { Note("signout"); }
  bool IsSignedOut() const override { return !signed_in; }
  bool SetStatus(ShowState show, bool invisible, const std::string& text) override {
    // ShowState by number: 6 online, 4 away.
    return Chat("status " + std::to_string(static_cast<int>(show)) + (invisible ? " hidden" : "") +
                " [" + text + "]");
  }
  bool SendMessage(const XmppAddress& to, const std::string& text) override {
    return Chat("msg " + to.ToString() + " [" + text + "]");
  }
  bool SendChatState(const XmppAddress& to, ChatState state) override {
    return Chat("typing " + to.ToString() + " " + ChatStateText(state));
  }
  bool AddContact(const XmppAddress& contact, const std::string& text) override {
    return Chat("add " + contact.ToString() + " [" + text + "]");
  }
  bool RemoveContact(const XmppAddress& contact) override {
    return Chat("remove " + contact.ToString());
  }
  bool AcceptSubscription(const XmppAddress& contact) override {
    return Chat("accept " + contact.ToString());
  }
  bool DenySubscription(const XmppAddress& contact) override {
    return Chat("deny " + contact.ToString());
  }
  bool ShowRoster() override { return Chat("roster"); }

  void Note(const std::string& line) { actions.push_back(line); }
  bool Chat(const std::string& line) {
    if (signed_in) Note(line);
    return signed_in;
  }

  bool signed_in = true;
  std::string stored;
  std::vector<std::string> actions;
};

struct Harness {
  explicit Harness(const std::string& env_password = "", bool terminal = false)
      : commands(&window, SecretText::FromClearText(env_password),
                 {[this](std::string_view text) { said.push_back("info " + std::string(text)); },
                  [this](std::string_view text) { said.push_back("error " + std::string(text)); },
                  [this, terminal](const std::vector<std::string>& words) {
                    if (terminal) said.push_back("asked for " + words[1]);
                    return terminal;
                  },
                  [this] { said.push_back("quit"); }}) {}
  FakeWindow window;
  ConsoleCommands commands;
  std::vector<std::string> said;
};

TEST(ConsoleCommandsTest, EachCommandReachesTheWindow) {
  struct Case {
    std::string line;
    std::string action;
  };
  const Case cases[] = {
      {"/signin alice@example.net", "signin alice@example.net [env] 0"},
      {"/signin alice@example.net host.example:5223", "signin alice@example.net [env] host.example 5223"},
      {"/signout", "signout"},
      {"/roster", "roster"},
      {"/status", "status 6 []"},
      {"/status away  back at  five ", "status 4 [back at  five ]"},
      {"/status invisible", "status 6 hidden []"},
      {"/msg bob@example.net hello  there", "msg bob@example.net [hello  there]"},
      {"\t/msg\tbob@example.net/desk hi", "msg bob@example.net/desk [hi]"},
      {"/typing bob@example.net", "typing bob@example.net composing"},
      {"/typing bob@example.net paused", "typing bob@example.net paused"},
      {"/add bob@example.net Hi, it's me", "add bob@example.net [Hi, it's me]"},
      {"/remove bob@example.net", "remove bob@example.net"},
      {"/accept bob@example.net", "accept bob@example.net"},
      {"/deny bob@example.net", "deny bob@example.net"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Harness h("env");
    h.commands.Handle(c.line);
    std::string expected = c.action;
    // The sign-in's host is printed empty when none was given.
    if (c.line == "/signin alice@example.net") expected = "signin alice@example.net [env]  0";
    EXPECT_EQ(h.window.actions, std::vector<std::string>{expected});
    EXPECT_TRUE(h.said.empty()) << h.said[0];
  }
}

TEST(ConsoleCommandsTest, WrongLinesAreNamedAndDoNothing) {
  struct Case {
    std::string line;
    std::string error;
  };
  const Case cases[] = {
      {"/nonsense", "unknown command: /nonsense (type /help)"},
      {"msg bob@example.net hi", "unknown command: msg (type /help)"},
      {std::string("/ro\0ster", 8), "the line held a NUL character: ignored"},
      {"/signin", "usage: /signin JID [HOST[:PORT]]"},
      {"/signin a@b c d", "usage: /signin JID [HOST[:PORT]]"},
      {"/signin a@b host:0", "not a port: 0"},
      {"/signin a@b host:65536", "not a port: 65536"},
      {"/signin a@b :5222", "usage: /signin JID [HOST[:PORT]]"},
      {"/status busy", "usage: /status available|away|xa|dnd|chat|invisible [text]"},
      {"/msg", "/msg needs an address"},
      {"/msg bob@example.net", "usage: /msg JID text"},
      {"/msg @example.net hi", "not a valid address: @example.net"},
      {"/msg bob@example.net/ hi", "not a valid address: bob@example.net/"},
      {"/typing bob@example.net shouting", "usage: /typing JID [composing|paused|active|inactive|gone]"},
      {"/add", "/add needs an address"},
      {"/remove bob@", "not a valid address: bob@"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Harness h("env");
    h.commands.Handle(c.line);
    EXPECT_TRUE(h.window.actions.empty()) << h.window.actions[0];
    EXPECT_EQ(h.said, std::vector<std::string>{"error " + c.error});
  }
}

TEST(ConsoleCommandsTest, ChatCommandsWithoutASessionSaySo) {
  for (const char* line : {"/roster", "/status away", "/msg bob@example.net hi",
                           "/typing bob@example.net", "/add bob@example.net",
                           "/remove bob@example.net", "/accept bob@example.net",
                           "/deny bob@example.net"}) {
    SCOPED_TRACE(line);
    Harness h;
    h.window.signed_in = false;
    h.commands.Handle(line);
    EXPECT_EQ(h.said, std::vector<std::string>{"error not signed in"});
  }
}

TEST(ConsoleCommandsTest, PasswordComesFromTheEnvironmentTheStoreOrTheTerminal) {
  Harness from_env("env");
  from_env.commands.Handle("/signin alice@example.net");
  EXPECT_EQ(from_env.window.actions, std::vector<std::string>{"signin alice@example.net [env]  0"});

  Harness stored;
  stored.window.stored = "alice@example.net";
  stored.commands.Handle("/signin alice@example.net/desk");
  EXPECT_EQ(stored.window.actions, std::vector<std::string>{"signin alice@example.net/desk []  0"});

  Harness terminal("", true);
  terminal.commands.Handle("/signin alice@example.net");
  EXPECT_TRUE(terminal.window.actions.empty());
  EXPECT_EQ(terminal.said, std::vector<std::string>{"asked for alice@example.net"});

  Harness none;
  none.commands.Handle("/signin alice@example.net");
  EXPECT_TRUE(none.window.actions.empty());
  EXPECT_EQ(none.said, std::vector<std::string>{"error no password: none is stored for this "
                                                "account and VEXALO_PASSWORD is not set"});
}

TEST(ConsoleCommandsTest, HelpListsEveryCommandOfTheTableAndQuitQuits) {
  Harness h;
  h.commands.Handle("/help");
  ASSERT_EQ(h.said.size(), ConsoleCommands::HelpLines().size());
  std::string all;
  for (const std::string& line : h.said) all += line + "\n";
  for (const char* name : {"/signin JID [HOST[:PORT]]", "/signout", "/roster", "/status", "/msg JID text",
                           "/typing JID", "/add JID [text]", "/remove JID", "/accept JID",
                           "/deny JID", "/help", "/quit"}) {
    EXPECT_NE(all.find(std::string("info ") + name), std::string::npos) << name << "\n" << all;
  }
  h.said.clear();
  h.commands.Handle("/quit");
  EXPECT_EQ(h.said, std::vector<std::string>{"quit"});
}

// Event fields: line structure escaped, controls that steer a terminal left out.
TEST(ConsoleFieldTest, EscapesLineStructureAndDropsTerminalControls) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"plain \xC3\xA9 \xE2\x98\xBA", "plain \xC3\xA9 \xE2\x98\xBA"},
      {"a\\b\tc\nd\re", "a\\\\b\\tc\\nd\\re"},
      {"bell\x07 esc\x1B[2J del\x7F", "bell esc[2J del"},
      {"csi\xC2\x9B" "2J nel\xC2\x85 apc\xC2\x9F", "csi2J nel apc"},
      {"rlo\xE2\x80\xAE lre\xE2\x80\xAA pdf\xE2\x80\xAC", "rlo lre pdf"},
      {"lri\xE2\x81\xA6 pdi\xE2\x81\xA9", "lri pdi"},
      {"lrm\xE2\x80\x8E zwj\xE2\x80\x8D", "lrm\xE2\x80\x8E zwj\xE2\x80\x8D"},
      {"raw\x9B" "c1 bad\xC3 end", "rawc1 bad end"},
      {std::string("nul\0in", 6), "nulin"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConsoleFrontEnd::Field(c.in), c.out) << c.in;
  }
}

}  // namespace
}  // namespace vexalo
