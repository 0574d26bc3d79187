// The real `vexalo --console` executable against a second real server of a different make
// (ejabberd) than the one the other console tests use: signing in over the STARTTLS it
// requires, with PLAIN among the SCRAM mechanisms it offers; the subscription handshake,
// presence with status texts, messages with text that needs escaping, typing notices, the
// stored roster and a message kept while the contact was offline at the next sign-in, signing
// out; refused credentials, a newer session throwing out an older one, a refused request and a
// removed contact.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "support/consoleclient.h"
#include "support/peers/ejabberdpeer.h"

namespace vexalo {
namespace {

using Fields = ConsoleClient::Fields;

// An event whose second field is a full address of `bare` and whose further fields are `rest`.
auto FromContact(const std::string& keyword, const std::string& bare,
                 const std::vector<std::string>& rest) {
  return [=](const Fields& f) {
    if (f.size() != 2 + rest.size() || f[0] != keyword || f[1].rfind(bare + "/", 0) != 0) {
      return false;
    }
    for (size_t i = 0; i < rest.size(); ++i) {
      if (f[2 + i] != rest[i]) return false;
    }
    return true;
  };
}

class PeerEjabberdConsoleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A client that died must fail the test, not kill it.
    signal(SIGPIPE, SIG_IGN);
    // One server for the program: it takes a few seconds to start.
    ejabberd_ = new EjabberdPeer();
    if (!ejabberd_->started()) return;
    RecordProperty("ejabberd_start_ms", std::to_string(ejabberd_->start_ms()));
    // Each test has accounts of its own, so that they do not depend on each other's order.
    for (const char* name : {"alice", "bob", "carol", "dave", "erin", "frank"}) {
      if (!ejabberd_->AddUser(name, std::string(name) + "-password")) return;
    }
    ready_ = true;
  }
  static void TearDownTestSuite() {
    delete ejabberd_;
    ejabberd_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(ready_) << ejabberd_->error(); }

  std::string Server() const { return "127.0.0.1:" + std::to_string(ejabberd_->port()); }
  void SignIn(ConsoleClient& client, const std::string& jid) {
    ASSERT_TRUE(client.started());
    ASSERT_TRUE(client.Send("/signin " + jid + " " + Server()));
    ASSERT_TRUE(client.WaitForLine({"state", "signed-in"}))
        << client.Output() << client.Stderr() << ReadFile(ejabberd_->log());
  }

  static EjabberdPeer* ejabberd_;
  static bool ready_;
};
EjabberdPeer* PeerEjabberdConsoleTest::ejabberd_ = nullptr;
bool PeerEjabberdConsoleTest::ready_ = false;

TEST_F(PeerEjabberdConsoleTest, TwoClientsBecomeContactsChatAndMeetAgain) {
  ConsoleClient alice("alice-password", ejabberd_->certificate());
  ConsoleClient bob("bob-password", ejabberd_->certificate());
  ASSERT_NO_FATAL_FAILURE(SignIn(alice, "alice@localhost"));
  ASSERT_NO_FATAL_FAILURE(SignIn(bob, "bob@localhost"));
  EXPECT_TRUE(alice.WaitForLine({"status", "Signed in as alice@localhost"})) << alice.Output();

  // The subscription handshake: alice asks, bob allows and asks back, alice allows.
  ASSERT_TRUE(alice.Send("/add bob@localhost Hi, it's Alice"));
  ASSERT_TRUE(bob.WaitForLine({"subscription", "alice@localhost", "subscribe"})) << bob.Output();
  EXPECT_TRUE(alice.WaitForLine({"roster", "bob@localhost", "", "none+ask"})) << alice.Output();
  ASSERT_TRUE(bob.Send("/accept alice@localhost"));
  ASSERT_TRUE(alice.WaitForLine({"subscription", "bob@localhost", "subscribe"})) << alice.Output();
  ASSERT_TRUE(alice.Send("/accept bob@localhost"));
  EXPECT_TRUE(alice.WaitForLine({"roster", "bob@localhost", "", "both"})) << alice.Output();
  EXPECT_TRUE(bob.WaitForLine({"roster", "alice@localhost", "", "both"})) << bob.Output();
  EXPECT_TRUE(alice.WaitFor(FromContact("presence", "bob@localhost", {"available", ""})))
      << alice.Output();
  EXPECT_TRUE(bob.WaitFor(FromContact("presence", "alice@localhost", {"available", ""})))
      << bob.Output();

  // Messages both ways with what XML must escape, text that looks like markup, characters
  // outside ASCII, and what the console escapes in its own output.
  ASSERT_TRUE(alice.Send("/msg bob@localhost <b>fish & chips</b> \"x\" 'y' ]]> &amp; Grüße ✓"));
  EXPECT_TRUE(bob.WaitFor(
      FromContact("msg", "alice@localhost", {"<b>fish & chips</b> \"x\" 'y' ]]> &amp; Grüße ✓"})))
      << bob.Output();
  ASSERT_TRUE(bob.Send("/msg alice@localhost back\tslash \\ and tab"));
  EXPECT_TRUE(alice.WaitFor(FromContact("msg", "bob@localhost", {"back\\tslash \\\\ and tab"})))
      << alice.Output();

  // Typing notices.
  size_t mark = bob.Mark();
  ASSERT_TRUE(alice.Send("/typing bob@localhost"));
  EXPECT_TRUE(bob.WaitFor(FromContact("typing", "alice@localhost", {"composing"}), mark))
      << bob.Output();
  ASSERT_TRUE(alice.Send("/typing bob@localhost paused"));
  EXPECT_TRUE(bob.WaitFor(FromContact("typing", "alice@localhost", {"paused"}), mark))
      << bob.Output();

  // Away with a status text, and back.
  mark = bob.Mark();
  ASSERT_TRUE(alice.Send("/status away out for lunch <back at 2> & more"));
  EXPECT_TRUE(bob.WaitFor(
      FromContact("presence", "alice@localhost", {"away", "out for lunch <back at 2> & more"}),
      mark))
      << bob.Output();
  mark = alice.Mark();
  ASSERT_TRUE(bob.Send("/status dnd in a meeting"));
  EXPECT_TRUE(
      alice.WaitFor(FromContact("presence", "bob@localhost", {"dnd", "in a meeting"}), mark))
      << alice.Output();

  // The roster on request.
  mark = alice.Mark();
  ASSERT_TRUE(alice.Send("/roster"));
  EXPECT_TRUE(alice.WaitForLine({"roster", "bob@localhost", "", "both"}, mark)) << alice.Output();

  // Quitting signs out: the other side sees it, and the console ends with 0.
  mark = bob.Mark();
  ASSERT_TRUE(alice.Send("/quit"));
  EXPECT_EQ(alice.ExitCode(), 0) << alice.Stderr();
  EXPECT_TRUE(alice.WaitForLine({"state", "signed-out"})) << alice.Output();
  EXPECT_TRUE(bob.WaitFor(FromContact("presence", "alice@localhost", {"offline", ""}), mark))
      << bob.Output();

  // A message to her while she is away is kept by the server; signing in again (a fresh
  // profile) brings the contact from the stored roster, his presence and that message.
  ASSERT_TRUE(bob.Send("/msg alice@localhost while you were out"));
  // The server stores it while handling his stanzas in order, but a sign-in meanwhile may
  // look for stored messages before it is written (and find them only the next time): his
  // message to himself coming back says it has been.
  mark = bob.Mark();
  ASSERT_TRUE(bob.Send("/msg bob@localhost sent"));
  ASSERT_TRUE(bob.WaitFor(FromContact("msg", "bob@localhost", {"sent"}), mark)) << bob.Output();
  mark = bob.Mark();
  ConsoleClient again("alice-password", ejabberd_->certificate());
  ASSERT_NO_FATAL_FAILURE(SignIn(again, "alice@localhost"));
  EXPECT_TRUE(again.WaitForLine({"roster", "bob@localhost", "", "both"})) << again.Output();
  EXPECT_TRUE(again.WaitFor(FromContact("presence", "bob@localhost", {"dnd", "in a meeting"})))
      << again.Output();
  EXPECT_TRUE(again.WaitFor(FromContact("msg", "bob@localhost", {"while you were out"})))
      << again.Output();
  EXPECT_TRUE(bob.WaitFor(FromContact("presence", "alice@localhost", {"available", ""}), mark))
      << bob.Output();

  ASSERT_TRUE(bob.Send("/quit"));
  EXPECT_EQ(bob.ExitCode(), 0) << bob.Stderr();
  again.CloseInput();
  EXPECT_EQ(again.ExitCode(), 0) << again.Stderr();
  EXPECT_TRUE(again.WaitForLine({"state", "signed-out"})) << again.Output();
}

TEST_F(PeerEjabberdConsoleTest, RefusedCredentialsAreReportedWithoutRetrying) {
  struct Case {
    const char* jid;
    const char* password;
  };
  const std::vector<Case> cases = {
      {"carol@localhost", "not-carols-password"},
      {"nobody@localhost", "nobody-password"},  // no such account
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.jid);
    ConsoleClient client(c.password, ejabberd_->certificate());
    ASSERT_TRUE(client.started());
    ASSERT_TRUE(client.Send(std::string("/signin ") + c.jid + " " + Server()));
    EXPECT_TRUE(client.WaitForLine({"error", "Wrong user name or password"})) << client.Output();
    EXPECT_TRUE(client.WaitForLine({"state", "signed-out"})) << client.Output();
    // The console stays for another try; the end of its input ends it as usual.
    EXPECT_TRUE(client.Running());
    client.CloseInput();
    EXPECT_EQ(client.ExitCode(), 0) << client.Stderr();
    const std::string output = client.Output();
    EXPECT_EQ(output.find("signed-in"), std::string::npos) << output;
    EXPECT_EQ(output.find("reconnecting"), std::string::npos) << output;
  }
  // The account itself still works.
  ConsoleClient carol("carol-password", ejabberd_->certificate());
  ASSERT_NO_FATAL_FAILURE(SignIn(carol, "carol@localhost"));
  carol.CloseInput();
  EXPECT_EQ(carol.ExitCode(), 0) << carol.Stderr();
}

// The server throws out the older of two sessions with the same resource (a stream error);
// that client says so and stays signed out instead of throwing the newer one out in turn.
TEST_F(PeerEjabberdConsoleTest, SigningInElsewhereEndsTheOlderSession) {
  ConsoleClient first("dave-password", ejabberd_->certificate());
  ConsoleClient second("dave-password", ejabberd_->certificate());
  ASSERT_NO_FATAL_FAILURE(SignIn(first, "dave@localhost"));
  ASSERT_NO_FATAL_FAILURE(SignIn(second, "dave@localhost"));
  EXPECT_TRUE(first.WaitForLine({"error", "You signed in from another place"})) << first.Output();
  EXPECT_TRUE(first.WaitForLine({"state", "signed-out"})) << first.Output();
  // The newer one goes on: a message to itself arrives.
  ASSERT_TRUE(second.Send("/msg dave@localhost still mine"));
  EXPECT_TRUE(second.WaitFor(FromContact("msg", "dave@localhost", {"still mine"})))
      << second.Output();
  first.CloseInput();
  EXPECT_EQ(first.ExitCode(), 0) << first.Stderr();
  const std::string output = first.Output();
  EXPECT_EQ(output.find("reconnecting"), std::string::npos) << output;
  EXPECT_EQ(output.rfind("state\tsigned-in"), output.find("state\tsigned-in")) << output;
  second.CloseInput();
  EXPECT_EQ(second.ExitCode(), 0) << second.Stderr();
}

TEST_F(PeerEjabberdConsoleTest, DeniedRequestAndRemovedContact) {
  ConsoleClient erin("erin-password", ejabberd_->certificate());
  ConsoleClient frank("frank-password", ejabberd_->certificate());
  ASSERT_NO_FATAL_FAILURE(SignIn(erin, "erin@localhost"));
  ASSERT_NO_FATAL_FAILURE(SignIn(frank, "frank@localhost"));

  // A refused request leaves the asker with a contact it does not see.
  ASSERT_TRUE(frank.Send("/add erin@localhost may I?"));
  ASSERT_TRUE(erin.WaitForLine({"subscription", "frank@localhost", "subscribe"})) << erin.Output();
  size_t mark = frank.Mark();
  ASSERT_TRUE(erin.Send("/deny frank@localhost"));
  EXPECT_TRUE(frank.WaitForLine({"subscription", "erin@localhost", "unsubscribed"}, mark))
      << frank.Output();
  EXPECT_TRUE(frank.WaitForLine({"roster", "erin@localhost", "", "none"}, mark)) << frank.Output();

  // The other way round it is allowed; then she takes him off her list again.
  ASSERT_TRUE(erin.Send("/add frank@localhost"));
  ASSERT_TRUE(frank.WaitForLine({"subscription", "erin@localhost", "subscribe"})) << frank.Output();
  ASSERT_TRUE(frank.Send("/accept erin@localhost"));
  EXPECT_TRUE(erin.WaitForLine({"roster", "frank@localhost", "", "to"})) << erin.Output();
  EXPECT_TRUE(erin.WaitFor(FromContact("presence", "frank@localhost", {"available", ""})))
      << erin.Output();
  ASSERT_TRUE(erin.Send("/remove frank@localhost"));
  EXPECT_TRUE(erin.WaitForLine({"removed", "frank@localhost"})) << erin.Output();
  mark = erin.Mark();
  ASSERT_TRUE(erin.Send("/roster"));
  ASSERT_TRUE(erin.Send("/msg erin@localhost end of list"));
  ASSERT_TRUE(erin.WaitFor(FromContact("msg", "erin@localhost", {"end of list"}), mark))
      << erin.Output();
  EXPECT_FALSE(erin.WaitForLine({"roster", "frank@localhost"}, mark, 0)) << erin.Output();

  erin.CloseInput();
  frank.CloseInput();
  EXPECT_EQ(erin.ExitCode(), 0) << erin.Stderr();
  EXPECT_EQ(frank.ExitCode(), 0) << frank.Stderr();
}

}  // namespace
}  // namespace vexalo
