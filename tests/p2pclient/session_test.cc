#include "p2p/client/session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "base/runtime/loopthread.h"
#include "p2p/client/xmldescription.h"
#include "p2pclient/sessionpair.h"
#include "support/logcapture.h"

namespace vexalo {
namespace {

std::shared_ptr<const SessionDescription> Description() {
  return std::make_shared<XmlDescription>(XmlElem(XmlName(kTestClientNs, "description"), true));
}

// Alice and Bob, each with a registry and a test-namespace client, talking through a router.
class SessionTest : public ::testing::Test, public SlotHost {
 protected:
  void SetUp() override {
    router_.Add(&alice_);
    router_.Add(&bob_);
    for (SessionParty* party : {&alice_, &bob_}) {
      party->registry.RequestSignaling.Connect(
          this, [party] { party->registry.OnSignalingReady(); });
    }
    bob_.registry.SessionCreated.Connect(this, [this](Session* session, bool received) {
      if (!received) return;
      bob_session_ = session;
      if (bob_makes_socket_) bob_socket_ = session->CreateP2PSocket("rtp");
    });
    bob_.registry.SessionDestroyed.Connect(this, [this](Session* session) {
      if (session == bob_session_) bob_session_ = nullptr;
    });
    alice_.registry.SessionDestroyed.Connect(this, [this](Session* session) {
      if (session == alice_session_) alice_session_ = nullptr;
    });
    log_ = std::make_unique<LogCapture>(kWarning);
  }
  void Run(int ms) {
    for (int t = 0; t < ms; t += 10) {
      router_.Pump();
      queue_.Advance(10);
    }
    router_.Pump();
  }
  void Open() {
    alice_session_ = alice_.client.CreateSession();
    alice_socket_ = alice_session_->CreateP2PSocket("rtp");
    ASSERT_TRUE(alice_session_->Initiate(bob_.jid, Description()));
    Run(50);
    ASSERT_NE(bob_session_, nullptr);
    ASSERT_TRUE(bob_session_->Accept(Description()));
    Run(50);
  }
  // What Bob said last, with the sender's address in place.
  std::string BobLastReply() const {
    return bob_.replies.empty() ? std::string() : bob_.replies.back();
  }
  std::string FromMallory(const std::string& type, const std::string& inner,
                          const std::string& id = "", const std::string& initiator = "") {
    return Stanza("mallory@example.test/m", type, inner,
                  id.empty() ? alice_session_->id().id : id,
                  initiator.empty() ? alice_.jid : initiator);
  }
  static std::string Stanza(const std::string& from, const std::string& type,
                            const std::string& inner, const std::string& id,
                            const std::string& initiator) {
    return "<iq xmlns='jabber:client' type='set' id='h1' from='" + from +
           "' to='bob@example.test/b'><session xmlns='" + kSessionNs + "' type='" + type +
           "' id='" + id + "' initiator='" + initiator + "'>" + inner + "</session></iq>";
  }

  VirtualQueue queue_;
  SessionParty alice_{"alice@example.test/a", &queue_};
  SessionParty bob_{"bob@example.test/b", &queue_};
  StanzaRouter router_;
  std::unique_ptr<LogCapture> log_;
  bool bob_makes_socket_ = true;
  Session* alice_session_ = nullptr;
  Session* bob_session_ = nullptr;
  P2PSocket* alice_socket_ = nullptr;
  P2PSocket* bob_socket_ = nullptr;
};

TEST_F(SessionTest, InitiateAndAcceptReachInProgressOnBothSides) {
  Open();
  EXPECT_EQ(alice_session_->state(), Session::STATE_INPROGRESS);
  EXPECT_EQ(bob_session_->state(), Session::STATE_INPROGRESS);
  EXPECT_TRUE(alice_session_->initiator());
  EXPECT_FALSE(bob_session_->initiator());
  EXPECT_EQ(bob_session_->remote_name(), alice_.jid);
  EXPECT_EQ(bob_session_->id(), alice_session_->id());
  EXPECT_NE(bob_session_->remote_description(), nullptr);
  // Every message was acknowledged with a result.
  ASSERT_FALSE(bob_.replies.empty());
  for (const std::string& reply : bob_.replies) {
    EXPECT_NE(reply.find("type=\"result\""), std::string::npos) << reply;
  }
}

TEST_F(SessionTest, SessionsExchangePacketsBothWays) {
  if (PartyIp() == 0x7F000001) {
    GTEST_SKIP() << "needs a non-loopback address (run through tests/scripts/p2p-netns.sh)";
  }
  Open();
  std::string got_a;
  std::string got_b;
  // Sockets live on the worker (here the same queue); the test reads them there.
  for (int i = 0; i < 300 && !(alice_socket_->IsWritable() && bob_socket_->IsWritable()); ++i) {
    Run(10);
  }
  ASSERT_TRUE(alice_socket_->IsWritable());
  ASSERT_TRUE(bob_socket_->IsWritable());
  alice_socket_->PacketReceived.Connect(
      this, [&](P2PSocket*, const char* d, size_t n) { got_a.append(d, n); });
  bob_socket_->PacketReceived.Connect(
      this, [&](P2PSocket*, const char* d, size_t n) { got_b.append(d, n); });
  ASSERT_EQ(alice_socket_->Send("hello bob", 9), 9);
  ASSERT_EQ(bob_socket_->Send("hello alice", 11), 11);
  Run(20);
  EXPECT_EQ(got_b, "hello bob");
  EXPECT_EQ(got_a, "hello alice");
  EXPECT_TRUE(alice_session_->transport()->any_writable());
}

TEST_F(SessionTest, UnansweredInitiateTimesOutAndTerminates) {
  bob_makes_socket_ = false;
  alice_session_ = alice_.client.CreateSession();
  ASSERT_TRUE(alice_session_->Initiate("nobody@example.test/x", Description()));
  std::vector<Session::State> states;
  alice_session_->StateChanged.Connect(this,
                                       [&](Session*, Session::State s) { states.push_back(s); });
  Session::Error error = Session::ERROR_NONE;
  alice_session_->ErrorChanged.Connect(this, [&](Session*, Session::Error e) { error = e; });
  Run(49000);
  EXPECT_EQ(alice_session_->state(), Session::STATE_SENTINITIATE);
  Run(1100);
  EXPECT_EQ(error, Session::ERROR_TIME);
  EXPECT_EQ(states, std::vector<Session::State>{Session::STATE_SENTTERMINATE});
  EXPECT_EQ(alice_session_, nullptr);  // destroyed by the registry
  EXPECT_EQ(alice_.registry.session_count(), 0u);
}

TEST_F(SessionTest, InProgressSessionEndsAfter50sWithoutWritableSocket) {
  bob_makes_socket_ = false;
  alice_session_ = alice_.client.CreateSession();
  ASSERT_TRUE(alice_session_->Initiate(bob_.jid, Description()));
  Run(50);
  ASSERT_TRUE(bob_session_->Accept(Description()));
  Run(49000);
  ASSERT_NE(alice_session_, nullptr);
  EXPECT_EQ(alice_session_->state(), Session::STATE_INPROGRESS);
  Run(1100);
  EXPECT_EQ(alice_session_, nullptr);
  // Alice's terminate reached Bob, whose session is gone too.
  EXPECT_EQ(bob_session_, nullptr);
}

TEST_F(SessionTest, CandidatesGatheredBeforeInitiateFollowIt) {
  std::vector<std::string> sent;
  alice_.client.SendStanza.Connect(this, [&](SessionClient*, const XmlElem& s, bool reply) {
    if (!reply) sent.push_back(XmlWriter::ToString(s));
  });
  alice_session_ = alice_.client.CreateSession();
  alice_socket_ = alice_session_->CreateP2PSocket("rtp");
  Run(200);
  EXPECT_TRUE(sent.empty());
  ASSERT_TRUE(alice_session_->Initiate(bob_.jid, Description()));
  Run(20);
  ASSERT_GE(sent.size(), 2u);
  EXPECT_NE(sent[0].find("type=\"initiate\""), std::string::npos);
  EXPECT_NE(sent[1].find("type=\"candidates\""), std::string::npos);
  EXPECT_NE(sent[1].find("name=\"rtp\""), std::string::npos);
}

TEST_F(SessionTest, OperationsOutsideTheirStatesDoNothing) {
  Session* session = alice_.client.CreateSession();
  int sent = 0;
  alice_.client.SendStanza.Connect(this, [&](SessionClient*, const XmlElem&, bool) { ++sent; });
  EXPECT_FALSE(session->Accept(Description()));
  EXPECT_FALSE(session->Reject());
  EXPECT_EQ(sent, 0);
  EXPECT_TRUE(session->Terminate());
  EXPECT_FALSE(session->Terminate());
}

TEST_F(SessionTest, RedirectResendsTheInitiateWithTheCookieOnlyWhileInitiating) {
  bob_makes_socket_ = false;
  alice_session_ = alice_.client.CreateSession();
  ASSERT_TRUE(alice_session_->Initiate(bob_.jid, Description()));
  Run(20);
  std::vector<std::string> sent;
  alice_.client.SendStanza.Connect(this, [&](SessionClient*, const XmlElem& s, bool reply) {
    if (!reply) sent.push_back(XmlWriter::ToString(s));
  });
  const std::string id = alice_session_->id().id;
  const std::string redirect =
      "<target name='carol@example.test/c'/><cookie><regarding name='bob@example.test/b'/>"
      "</cookie>";
  auto to_alice = [&](const std::string& from, const std::string& type, const std::string& in) {
    router_.Inject("<iq xmlns='jabber:client' type='set' id='r1' from='" + from +
                   "' to='alice@example.test/a'><session xmlns='" + kSessionNs + "' type='" +
                   type + "' id='" + id + "' initiator='alice@example.test/a'>" + in +
                   "</session></iq>");
    Run(20);
  };
  to_alice(bob_.jid, "redirect", redirect);
  EXPECT_EQ(alice_session_->remote_name(), "carol@example.test/c");
  ASSERT_FALSE(sent.empty());
  EXPECT_NE(sent[0].find("to=\"carol@example.test/c\""), std::string::npos) << sent[0];
  EXPECT_NE(sent[0].find("type=\"initiate\" id=\"" + id + "\""), std::string::npos) << sent[0];
  EXPECT_NE(sent[0].find("<regarding name=\"bob@example.test/b\"/>"), std::string::npos);
  // Carol redirects back and forth: the redirects stop being followed.
  for (int i = 0; i < 5; ++i) {
    const std::string from = alice_session_->remote_name();
    const std::string next = i % 2 ? "carol@example.test/c" : "dave@example.test/d";
    to_alice(from, "redirect", "<target name='" + next + "'/>");
  }
  EXPECT_EQ(alice_session_->state(), Session::STATE_SENTINITIATE);
  EXPECT_TRUE(log_->Contains("refused redirect"));
}

// Hostile or broken stanzas sent to Bob during a session with Alice: each gets the error
// named and leaves every session as it was.
TEST_F(SessionTest, HostileStanzasAreRefusedAndChangeNothing) {
  Open();
  const std::string id = alice_session_->id().id;
  std::string many;
  for (int i = 0; i < 33; ++i) {
    many += "<candidate name='rtp' address='198.51.100." + std::to_string(i + 1) +
            "' port='5000' username='u' preference='1' protocol='udp' generation='0'/>";
  }
  const std::string one =
      "<candidate name='rtp' address='198.51.100.9' port='5000' username='u' preference='1' "
      "protocol='udp' generation='0'/>";
  const std::string desc = "<description xmlns='" + kTestClientNs + "'/>";
  struct Case {
    const char* what;
    std::string stanza;
    const char* condition;  // in Bob's reply
  } cases[] = {
      {"third party injects candidates", FromMallory("candidates", one), "unknown-session"},
      {"third party terminates", FromMallory("terminate", ""), "unknown-session"},
      {"third party redirects", FromMallory("redirect", "<target name='m@example.test/m'/>"),
       "unknown-session"},
      {"third party modifies", FromMallory("modify", desc), "unknown-session"},
      {"unknown session id", Stanza(alice_.jid, "candidates", one, "999", alice_.jid),
       "unknown-session"},
      {"oversized candidate list", Stanza(alice_.jid, "candidates", many, id, alice_.jid),
       "unacceptable-options"},
      {"initiate in someone else's name", Stanza("mallory@example.test/m", "initiate", desc,
                                                 "77", alice_.jid),
       "unacceptable-options"},
      {"initiate reusing a session id", Stanza(alice_.jid, "initiate", desc, id, alice_.jid),
       "unacceptable-options"},
      {"redirect without a target", Stanza(alice_.jid, "redirect", "", id, alice_.jid),
       "unacceptable-options"},
      {"session message without a type",
       "<iq xmlns='jabber:client' type='set' id='h1' from='alice@example.test/a' "
       "to='bob@example.test/b'><session xmlns='" + kSessionNs + "' id='" + id +
           "' initiator='alice@example.test/a'/></iq>",
       "unknown-method"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t replies = bob_.replies.size();
    const size_t sessions = bob_.registry.session_count();
    const std::string remote = bob_session_->remote_name();
    router_.Inject(c.stanza);
    Run(20);
    ASSERT_EQ(bob_.replies.size(), replies + 1);
    EXPECT_NE(BobLastReply().find("type=\"error\""), std::string::npos) << BobLastReply();
    EXPECT_NE(BobLastReply().find(c.condition), std::string::npos) << BobLastReply();
    EXPECT_NE(BobLastReply().find("id=\"h1\""), std::string::npos);
    ASSERT_NE(bob_session_, nullptr);
    EXPECT_EQ(bob_session_->state(), Session::STATE_INPROGRESS);
    EXPECT_EQ(bob_session_->remote_name(), remote);
    EXPECT_EQ(bob_.registry.session_count(), sessions);
  }
  // Bad candidates from the right party are skipped one by one, and acknowledged.
  router_.Inject(Stanza(alice_.jid, "candidates",
                        "<candidate name='rtp' address='127.0.0.1' port='5000' username='u' "
                        "preference='1' protocol='udp' generation='0'/>",
                        id, alice_.jid));
  Run(20);
  EXPECT_NE(BobLastReply().find("type=\"result\""), std::string::npos);
}

TEST_F(SessionTest, InitiateFloodFromOnePartyIsBounded) {
  bob_makes_socket_ = false;
  const std::string desc = "<description xmlns='" + kTestClientNs + "'/>";
  for (int i = 0; i < 20; ++i) {
    router_.Inject(Stanza(alice_.jid, "initiate", desc, std::to_string(1000 + i), alice_.jid));
  }
  Run(20);
  EXPECT_EQ(bob_.registry.session_count(), SessionRegistry::kMaxSessionsPerRemote);
  size_t errors = 0;
  for (const std::string& reply : bob_.replies) {
    if (reply.find("unacceptable-options") != std::string::npos) ++errors;
  }
  EXPECT_EQ(errors, 20 - SessionRegistry::kMaxSessionsPerRemote);
}

TEST_F(SessionTest, CandidatesPerSessionAreBounded) {
  Open();
  const std::string id = alice_session_->id().id;
  size_t accepted = 0;
  for (int m = 0; m < 10; ++m) {
    std::string batch;
    for (int i = 0; i < 30; ++i) {
      batch += "<candidate name='rtp' address='198.51.100." + std::to_string(i + 1) +
               "' port='" + std::to_string(5000 + m) +
               "' username='u' preference='1' protocol='udp' generation='0'/>";
    }
    router_.Inject(Stanza(alice_.jid, "candidates", batch, id, alice_.jid));
    Run(10);
    if (BobLastReply().find("result") != std::string::npos) accepted += 30;
  }
  EXPECT_LE(accepted, Session::kMaxRemoteCandidates);
  EXPECT_LE(bob_socket_->remote_candidate_count(), P2PSocket::kMaxRemoteCandidates);
}

TEST_F(SessionTest, StateNamesAreTheLogNames) {
  EXPECT_STREQ(Session::StateName(Session::STATE_INIT), "Session::STATE_INIT");
  EXPECT_STREQ(Session::StateName(Session::STATE_INPROGRESS), "Session::STATE_INPROGRESS");
}

}  // namespace
}  // namespace vexalo

namespace vexalo {
namespace {

// The real split: signalling on the test's queue, sockets on a worker thread per party.
TEST(SessionThreadsTest, SocketsOnWorkerThreadsBecomeWritable) {
  if (PartyIp() == 0x7F000001) {
    GTEST_SKIP() << "needs a non-loopback address (run through tests/scripts/p2p-netns.sh)";
  }
  LoopThread worker_a;
  LoopThread worker_b;
  ASSERT_TRUE(worker_a.Start());
  ASSERT_TRUE(worker_b.Start());
  {
    VirtualQueue queue;
    SessionParty alice("alice@example.test/a", &queue, &worker_a);
    SessionParty bob("bob@example.test/b", &queue, &worker_b);
    StanzaRouter router;
    router.Add(&alice);
    router.Add(&bob);
    SlotHost host;
    for (SessionParty* party : {&alice, &bob}) {
      party->registry.RequestSignaling.Connect(&host,
                                               [party] { party->registry.OnSignalingReady(); });
    }
    Session* bob_session = nullptr;
    bob.registry.SessionCreated.Connect(&host, [&](Session* session, bool) {
      bob_session = session;
      ASSERT_NE(session->CreateP2PSocket("rtp"), nullptr);
    });
    Session* alice_session = alice.client.CreateSession();
    ASSERT_NE(alice_session->CreateP2PSocket("rtp"), nullptr);
    ASSERT_TRUE(alice_session->Initiate(bob.jid, Description()));
    int writable_changes = 0;
    alice_session->transport()->WritableChanged.Connect(&host, [&] { ++writable_changes; });
    for (int i = 0; i < 500 && !(bob_session && alice_session->transport()->any_writable() &&
                                 bob_session->transport()->any_writable());
         ++i) {
      router.Pump();
      queue.Advance(10);
      if (bob_session && bob_session->state() == Session::STATE_RECEIVEDINITIATE) {
        bob_session->Accept(Description());
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(bob_session, nullptr);
    EXPECT_TRUE(alice_session->transport()->any_writable());
    EXPECT_TRUE(bob_session->transport()->any_writable());
    queue.Advance(10);
    EXPECT_GE(writable_changes, 1);  // delivered on the signalling thread
    EXPECT_EQ(alice_session->state(), Session::STATE_INPROGRESS);
  }
  worker_a.Stop();
  worker_b.Stop();
}

}  // namespace
}  // namespace vexalo
