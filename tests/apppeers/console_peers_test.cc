// The real `vexalo --console` executable, twice, through a real Prosody, driven through pipes
// the way a script would: signing in, the subscription handshake, presence, chat messages,
// typing notices, status texts, quitting; and input it must refuse without falling over.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "support/consoleclient.h"
#include "support/peers/prosodypeer.h"

namespace vexalo {
namespace {

class PeerConsoleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A client that died must fail the test, not kill it.
    signal(SIGPIPE, SIG_IGN);
    prosody_ = new ProsodyPeer();
    prosody_->AddUser("alice", "alice-password");
    prosody_->AddUser("bob", "bob-password");
  }
  static void TearDownTestSuite() {
    delete prosody_;
    prosody_ = nullptr;
  }
  std::string Server() const { return "127.0.0.1:" + std::to_string(prosody_->port()); }

  static ProsodyPeer* prosody_;
};
ProsodyPeer* PeerConsoleTest::prosody_ = nullptr;

TEST_F(PeerConsoleTest, TwoClientsBecomeContactsAndChat) {
  ASSERT_TRUE(prosody_->started()) << prosody_->error();
  ConsoleClient alice("alice-password", prosody_->certificate());
  ConsoleClient bob("bob-password", prosody_->certificate());
  ASSERT_TRUE(alice.started() && bob.started());
  ASSERT_TRUE(alice.Send("/signin alice@localhost " + Server()));
  ASSERT_TRUE(bob.Send("/signin bob@localhost " + Server()));
  ASSERT_TRUE(alice.WaitForLine({"state", "signed-in"})) << alice.Output() << alice.Stderr();
  ASSERT_TRUE(bob.WaitForLine({"state", "signed-in"})) << bob.Output() << bob.Stderr();
  EXPECT_TRUE(alice.WaitForLine({"status", "Signed in as alice@localhost"}));

  // The subscription handshake: alice asks, bob allows and asks back, alice allows.
  ASSERT_TRUE(alice.Send("/add bob@localhost Hi, it's Alice"));
  ASSERT_TRUE(bob.WaitForLine({"subscription", "alice@localhost", "subscribe"}))
      << bob.Output();
  EXPECT_TRUE(alice.WaitForLine({"roster", "bob@localhost", "", "none+ask"})) << alice.Output();
  ASSERT_TRUE(bob.Send("/accept alice@localhost"));
  ASSERT_TRUE(alice.WaitForLine({"subscription", "bob@localhost", "subscribe"}))
      << alice.Output();
  ASSERT_TRUE(alice.Send("/accept bob@localhost"));
  EXPECT_TRUE(alice.WaitForLine({"roster", "bob@localhost", "", "both"})) << alice.Output();
  EXPECT_TRUE(bob.WaitForLine({"roster", "alice@localhost", "", "both"})) << bob.Output();
  // Each sees the other available.
  EXPECT_TRUE(alice.WaitFor([](const ConsoleClient::Fields& f) {
    return f.size() >= 3 && f[0] == "presence" && f[1].rfind("bob@localhost/", 0) == 0 &&
           f[2] == "available";
  })) << alice.Output();
  EXPECT_TRUE(bob.WaitFor([](const ConsoleClient::Fields& f) {
    return f.size() >= 3 && f[0] == "presence" && f[1].rfind("alice@localhost/", 0) == 0 &&
           f[2] == "available";
  })) << bob.Output();

  // Messages both ways; tabs and backslashes come out escaped.
  ASSERT_TRUE(alice.Send("/msg bob@localhost hello bob"));
  EXPECT_TRUE(bob.WaitFor([](const ConsoleClient::Fields& f) {
    return f.size() == 3 && f[0] == "msg" && f[1].rfind("alice@localhost/", 0) == 0 &&
           f[2] == "hello bob";
  })) << bob.Output();
  ASSERT_TRUE(bob.Send("/msg alice@localhost back\tslash \\ and tab"));
  EXPECT_TRUE(alice.WaitFor([](const ConsoleClient::Fields& f) {
    return f.size() == 3 && f[0] == "msg" && f[1].rfind("bob@localhost/", 0) == 0 &&
           f[2] == "back\\tslash \\\\ and tab";
  })) << alice.Output();

  // Typing notices.
  size_t mark = bob.Mark();
  ASSERT_TRUE(alice.Send("/typing bob@localhost"));
  EXPECT_TRUE(bob.WaitFor(
      [](const ConsoleClient::Fields& f) {
        return f.size() == 3 && f[0] == "typing" && f[1].rfind("alice@localhost/", 0) == 0 &&
               f[2] == "composing";
      },
      mark))
      << bob.Output();
  ASSERT_TRUE(alice.Send("/typing bob@localhost paused"));
  EXPECT_TRUE(bob.WaitFor(
      [](const ConsoleClient::Fields& f) {
        return f.size() == 3 && f[0] == "typing" && f[2] == "paused";
      },
      mark))
      << bob.Output();

  // A status with a text.
  mark = bob.Mark();
  ASSERT_TRUE(alice.Send("/status away out for lunch"));
  EXPECT_TRUE(bob.WaitFor(
      [](const ConsoleClient::Fields& f) {
        return f.size() == 4 && f[0] == "presence" && f[1].rfind("alice@localhost/", 0) == 0 &&
               f[2] == "away" && f[3] == "out for lunch";
      },
      mark))
      << bob.Output();

  // The roster on request.
  mark = alice.Mark();
  ASSERT_TRUE(alice.Send("/roster"));
  EXPECT_TRUE(alice.WaitForLine({"roster", "bob@localhost", "", "both"}, mark)) << alice.Output();

  // Quitting signs out: the other side sees it, and both end with 0.
  mark = bob.Mark();
  ASSERT_TRUE(alice.Send("/quit"));
  EXPECT_EQ(alice.ExitCode(), 0) << alice.Stderr();
  EXPECT_TRUE(alice.WaitForLine({"state", "signed-out"})) << alice.Output();
  EXPECT_TRUE(bob.WaitFor(
      [](const ConsoleClient::Fields& f) {
        return f.size() >= 3 && f[0] == "presence" && f[1].rfind("alice@localhost/", 0) == 0 &&
               f[2] == "offline";
      },
      mark))
      << bob.Output();
  ASSERT_TRUE(bob.Send("/quit"));
  EXPECT_EQ(bob.ExitCode(), 0) << bob.Stderr();
}

TEST_F(PeerConsoleTest, RefusesBadInputAndGoesOn) {
  ASSERT_TRUE(prosody_->started()) << prosody_->error();
  ConsoleClient alice("alice-password", prosody_->certificate());
  ASSERT_TRUE(alice.started());

  struct Case {
    std::string line;
    std::string error;  // the start of the error text
  };
  const std::vector<Case> before_sign_in = {
      {"/frobnicate now", "unknown command: /frobnicate"},
      {"/signin", "usage: /signin"},
      {"/signin alice@localhost 127.0.0.1:99999", "not a port: 99999"},
      {"/signin alice@localhost 127.0.0.1:12x", "not a port: 12x"},
      {"/signin alice@localhost :5222", "usage: /signin"},
      {"/signin not an address at all", "usage: /signin"},
      {"/msg bob@localhost hello", "not signed in"},
      {"/status away", "not signed in"},
  };
  for (const Case& c : before_sign_in) {
    const size_t mark = alice.Mark();
    ASSERT_TRUE(alice.Send(c.line));
    EXPECT_TRUE(alice.WaitForLine({"error", c.error}, mark, 5000)) << c.line << "\n" << alice.Output();
  }
  // A line longer than the front end takes is refused whole; the next one is read as usual.
  size_t mark = alice.Mark();
  ASSERT_TRUE(alice.Send("/msg alice@localhost " + std::string(100 * 1024, 'x')));
  EXPECT_TRUE(alice.WaitForLine({"error", "line too long"}, mark, 5000)) << alice.Output();

  ASSERT_TRUE(alice.Send("/signin alice@localhost " + Server()));
  ASSERT_TRUE(alice.WaitForLine({"state", "signed-in"})) << alice.Output() << alice.Stderr();
  const std::vector<Case> signed_in = {
      {"/msg", "/msg needs an address"},
      {"/msg alice@localhost", "usage: /msg"},
      {"/msg @@@ hi", "not a valid address: @@@"},
      {"/typing alice@localhost shouting", "usage: /typing"},
      {"/status sleepy", "usage: /status"},
      {"/accept", "/accept needs an address"},
  };
  for (const Case& c : signed_in) {
    mark = alice.Mark();
    ASSERT_TRUE(alice.Send(c.line));
    EXPECT_TRUE(alice.WaitForLine({"error", c.error}, mark, 5000)) << c.line << "\n" << alice.Output();
  }
  mark = alice.Mark();
  ASSERT_TRUE(alice.Send(std::string(70 * 1024, 'y')));
  EXPECT_TRUE(alice.WaitForLine({"error", "line too long"}, mark, 5000)) << alice.Output();
  // Bytes that are not UTF-8 and control characters do not break the stream: a message to
  // ourselves still arrives afterwards.
  ASSERT_TRUE(alice.Send("/msg alice@localhost bad \xff\xfe bytes \x01\x02 here"));
  ASSERT_TRUE(alice.Send("/msg alice@localhost still here"));
  // Invalid bytes travel as replacement characters; control characters not at all.
  EXPECT_TRUE(alice.WaitFor(
      [](const ConsoleClient::Fields& f) {
        return f.size() == 3 && f[0] == "msg" &&
               f[2] == "bad \xEF\xBF\xBD\xEF\xBF\xBD bytes  here";
      },
      mark))
      << alice.Output();
  EXPECT_TRUE(alice.WaitFor(
      [](const ConsoleClient::Fields& f) {
        return f.size() == 3 && f[0] == "msg" && f[2] == "still here";
      },
      mark))
      << alice.Output() << alice.Stderr();
  EXPECT_TRUE(alice.Running());

  // The end of the input quits like /quit.
  alice.CloseInput();
  EXPECT_EQ(alice.ExitCode(), 0) << alice.Stderr();
  EXPECT_TRUE(alice.WaitForLine({"state", "signed-out"}, mark)) << alice.Output();
}

}  // namespace
}  // namespace vexalo
