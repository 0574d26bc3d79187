// The roster service from stanza transcripts: fetching with the service's extension, pushes
// and who may send them, item changes, counters, invitations and subscription presences.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "xmpp/stream/constants.h"
#include "xmpp/roster/invitesremainingtask.h"
#include "xmpp/roster/rostercountertask.h"
#include "xmpp/roster/rostersettask.h"
#include "xmpp/roster/rostertask.h"
#include "support/signedinconnection.h"
#include "xmpp/roster/subscriptionsender.h"

namespace vexalo {
namespace {

// Everything a RosterTask reports, as short lines ("begin", "+jid", "-jid", "subscribe jid").
class RosterRecorder : public SlotHost {
 public:
  explicit RosterRecorder(RosterTask* roster) {
    roster->SignalRosterBegin.Connect(this, [this] { events.push_back("begin"); });
    roster->SignalRosterEnd.Connect(this, [this] { events.push_back("end"); });
    roster->SignalItemUpdated.Connect(this, [this](const RosterItem& item) {
      events.push_back("+" + item.address.ToString());
      items.push_back(item);
    });
    roster->SignalItemRemoved.Connect(this, [this](const RosterItem& item) {
      events.push_back("-" + item.address.ToString());
    });
    roster->SignalSubscribe.Connect(this, [this](const XmppAddress& a) { Note("subscribe", a); });
    roster->SignalUnsubscribe.Connect(this, [this](const XmppAddress& a) { Note("unsubscribe", a); });
    roster->SignalSubscribed.Connect(this, [this](const XmppAddress& a) { Note("subscribed", a); });
    roster->SignalUnsubscribed.Connect(this,
                                       [this](const XmppAddress& a) { Note("unsubscribed", a); });
  }
  void Note(const std::string& what, const XmppAddress& who) {
    events.push_back(what + " " + who.ToString());
  }
  std::vector<std::string> events;
  std::vector<RosterItem> items;
};

class RosterTest : public ::testing::Test {
 protected:
  RosterTest() {
    roster_ = new RosterTask(session_.connection());  // takes id "2"
    roster_->Start();
    recorder_ = std::make_unique<RosterRecorder>(roster_);
  }
  // Asks for the roster; the query takes the next id.
  std::string Refresh() {
    roster_->Refresh();
    return session_.TakeSent();
  }

  SignedInConnection session_;
  RosterTask* roster_;
  std::unique_ptr<RosterRecorder> recorder_;
};

TEST_F(RosterTest, FetchAsksForTheExtensionAndReportsTheItemsBetweenBeginAndEnd) {
  EXPECT_EQ(Refresh(),
            "<iq type=\"get\" id=\"3\"><query xmlns=\"jabber:iq:roster\" "
            "xmlns:gr=\"ombrix:roster\" gr:ext=\"2\" gr:include=\"all\"/></iq>");
  session_.ServerSends(
      "<iq type='result' id='3' to='alice@example.net/desk'>"
      "<query xmlns='jabber:iq:roster' xmlns:gr='ombrix:roster' gr:ext='2'>"
      "<item jid='bob@example.net' name='Bob' subscription='both' gr:t='H' gr:w='5' gr:mc='3'>"
      "<group>Friends</group><group>Work</group></item>"
      "<item jid='not a jid@@' subscription='both'/>"
      "<item jid='carol@example.net' subscription='to' ask='subscribe' gr:rejected='true' "
      "gr:autosub='true' gr:alias-for='caroline@example.net'/>"
      "</query></iq>");
  EXPECT_EQ(recorder_->events,
            (std::vector<std::string>{"begin", "+bob@example.net", "+carol@example.net", "end"}));
  ASSERT_EQ(recorder_->items.size(), 2u);
  const RosterItem& bob = recorder_->items[0];
  EXPECT_EQ(bob.name, "Bob");
  EXPECT_EQ(bob.groups, (std::vector<std::string>{"Friends", "Work"}));
  EXPECT_EQ(bob.subscription, RosterSubscription::kBoth);
  EXPECT_EQ(bob.list_mode, RosterListMode::kHidden);
  EXPECT_EQ(bob.weight, 5);
  EXPECT_EQ(bob.message_count, 3);
  EXPECT_FALSE(bob.ask_subscribe);
  EXPECT_FALSE(bob.alias_for.IsValid());
  const RosterItem& carol = recorder_->items[1];
  EXPECT_TRUE(carol.name.empty());
  EXPECT_TRUE(carol.groups.empty());
  EXPECT_EQ(carol.subscription, RosterSubscription::kTo);
  EXPECT_TRUE(carol.ask_subscribe);
  EXPECT_TRUE(carol.rejected);
  EXPECT_TRUE(carol.auto_subscribe);
  EXPECT_EQ(carol.alias_for.ToString(), "caroline@example.net");
  // The result was taken once: a replay of the same answer is nobody's.
  session_.ServerSends("<iq type='result' id='3'><query xmlns='jabber:iq:roster'/></iq>");
  EXPECT_EQ(recorder_->events.size(), 4u);
}

TEST_F(RosterTest, OnlyOurServerMayAnswerTheFetch) {
  struct Case {
    const char* from;  // null: no "from"
    bool accepted;
  };
  const Case cases[] = {
      {nullptr, true},
      {"example.net", true},
      {"alice@example.net", true},
      {"alice@example.net/desk", false},  // our own full address is not the server
      {"bob@example.net", false},
      {"evil.example", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from ? c.from : "(none)");
    const std::string sent = Refresh();
    const size_t at = sent.find("id=\"") + 4;
    const std::string id = sent.substr(at, sent.find('"', at) - at);
    recorder_->events.clear();
    std::string from = c.from ? std::string(" from='") + c.from + "'" : "";
    session_.ServerSends("<iq type='result' id='" + id + "'" + from +
                         "><query xmlns='jabber:iq:roster'>"
                         "<item jid='bob@example.net' subscription='both'/></query></iq>");
    if (c.accepted) {
      EXPECT_EQ(recorder_->events,
                (std::vector<std::string>{"begin", "+bob@example.net", "end"}));
    } else {
      EXPECT_TRUE(recorder_->events.empty());
      // The real answer still gets through afterwards.
      session_.ServerSends("<iq type='result' id='" + id +
                           "'><query xmlns='jabber:iq:roster'/></iq>");
      EXPECT_EQ(recorder_->events, (std::vector<std::string>{"begin", "end"}));
    }
  }
}

TEST_F(RosterTest, ErrorAnswerEndsTheFetchQuietly) {
  Refresh();
  const size_t tasks = session_.runner.task_count();
  session_.ServerSends(
      "<iq type='error' id='3'><error type='cancel'><service-unavailable "
      "xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>");
  EXPECT_TRUE(recorder_->events.empty());
  EXPECT_EQ(session_.runner.task_count(), tasks - 1);
  EXPECT_EQ(session_.TakeSent(), "");
}

TEST_F(RosterTest, PushesFromOurBareAddressAreAcknowledgedAndReportedWithoutBeginAndEnd) {
  struct Case {
    const char* from;
    bool accepted;
  };
  const Case cases[] = {
      {nullptr, true},
      {"alice@example.net", true},
      {"ALICE@example.net", true},
      {"example.net", false},
      {"alice@example.net/phone", false},
      {"alice@example.net/desk", false},
      {"bob@example.net", false},
      {"bob@example.net/x", false},
      {"other.example", false},
      {"@@", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from ? c.from : "(none)");
    recorder_->events.clear();
    std::string from = c.from ? std::string(" from='") + c.from + "'" : "";
    session_.ServerSends("<iq type='set' id='p1'" + from +
                         "><query xmlns='jabber:iq:roster'>"
                         "<item jid='dave@example.net' subscription='remove'/>"
                         "<item jid='erin@example.net' subscription='from' name='Erin'/>"
                         "</query></iq>");
    const std::string sent = session_.TakeSent();
    if (c.accepted) {
      const std::string to = c.from ? std::string(" to=\"") + c.from + "\"" : "";
      EXPECT_EQ(sent, "<iq type=\"result\"" + to +
                          " id=\"p1\"><query xmlns=\"jabber:iq:roster\"/></iq>");
      EXPECT_EQ(recorder_->events,
                (std::vector<std::string>{"-dave@example.net", "+erin@example.net"}));
    } else {
      EXPECT_TRUE(recorder_->events.empty());
      EXPECT_NE(sent.find("<feature-not-implemented"), std::string::npos) << sent;
    }
  }
}

TEST_F(RosterTest, SubscriptionPresencesAreReportedByType) {
  session_.ServerSends(
      "<presence type='subscribe' from='bob@example.net'/>"
      "<presence type='subscribed' from='carol@example.net'/>"
      "<presence type='unsubscribe' from='dave@example.net'/>"
      "<presence type='unsubscribed' from='erin@example.net'/>"
      "<presence from='frank@example.net/x'/>"
      "<presence type='probe' from='gina@example.net'/>");
  EXPECT_EQ(recorder_->events,
            (std::vector<std::string>{"subscribe bob@example.net", "subscribed carol@example.net",
                                      "unsubscribe dave@example.net",
                                      "unsubscribed erin@example.net"}));
}

TEST(RosterItemTest, ExtensionAttributes) {
  struct Case {
    const char* attributes;
    RosterListMode list_mode;
    int32_t weight;
    int32_t message_count;
  };
  const Case cases[] = {
      {"", RosterListMode::kNormal, 0, 0},
      {"gr:t='H'", RosterListMode::kHidden, 0, 0},
      {"gr:t='B'", RosterListMode::kBlocked, 0, 0},
      {"gr:t='h'", RosterListMode::kNormal, 0, 0},
      {"gr:t='BB'", RosterListMode::kNormal, 0, 0},
      {"gr:t=''", RosterListMode::kNormal, 0, 0},
      {"gr:w='5' gr:emc='7'", RosterListMode::kNormal, 7, 0},
      {"gr:w='5'", RosterListMode::kNormal, 5, 0},
      {"gr:w='5' gr:emc=''", RosterListMode::kNormal, 5, 0},
      {"gr:mc='3' gr:emc='9'", RosterListMode::kNormal, 9, 3},
      {"gr:mc='3'", RosterListMode::kNormal, 0, 3},
      {"gr:w=' +12abc'", RosterListMode::kNormal, 12, 0},
      // Counters from the network are range-checked: no negatives, no overflow.
      {"gr:w='-4' gr:mc='-1'", RosterListMode::kNormal, 0, 0},
      {"gr:w='2147483647' gr:mc='2147483648'", RosterListMode::kNormal, 2147483647, 0},
      {"gr:mc='99999999999999999999999999999'", RosterListMode::kNormal, 0, 0},
      {"gr:w='x'", RosterListMode::kNormal, 0, 0},
      // Attributes of the same names outside the service's namespace do not count.
      {"t='H' w='5' mc='3'", RosterListMode::kNormal, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attributes);
    auto item = XmlElem::ParseFromString(
        std::string("<item xmlns='jabber:iq:roster' xmlns:gr='ombrix:roster' jid='bob@example.net' ") +
        c.attributes + "/>");
    ASSERT_NE(item, nullptr);
    RosterItem parsed;
    ASSERT_TRUE(RosterItem::Parse(*item, &parsed));
    EXPECT_EQ(parsed.list_mode, c.list_mode);
    EXPECT_EQ(parsed.weight, c.weight);
    EXPECT_EQ(parsed.message_count, c.message_count);
  }
}

TEST(RosterItemTest, SubscriptionAskAndFlags) {
  struct Case {
    const char* attributes;
    RosterSubscription subscription;
    bool ask;
    bool rejected;
  };
  const Case cases[] = {
      {"", RosterSubscription::kNone, false, false},
      {"subscription='none'", RosterSubscription::kNone, false, false},
      {"subscription='to'", RosterSubscription::kTo, false, false},
      {"subscription='from'", RosterSubscription::kFrom, false, false},
      {"subscription='both'", RosterSubscription::kBoth, false, false},
      {"subscription='remove'", RosterSubscription::kRemove, false, false},
      {"subscription='BOTH'", RosterSubscription::kNone, false, false},
      {"ask='subscribe'", RosterSubscription::kNone, true, false},
      {"ask='unsubscribe'", RosterSubscription::kNone, false, false},
      {"gr:rejected='true'", RosterSubscription::kNone, false, true},
      {"gr:rejected='1'", RosterSubscription::kNone, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attributes);
    auto item = XmlElem::ParseFromString(
        std::string("<item xmlns='jabber:iq:roster' xmlns:gr='ombrix:roster' jid='bob@example.net' ") +
        c.attributes + "/>");
    ASSERT_NE(item, nullptr);
    RosterItem parsed;
    ASSERT_TRUE(RosterItem::Parse(*item, &parsed));
    EXPECT_EQ(parsed.subscription, c.subscription);
    EXPECT_EQ(parsed.ask_subscribe, c.ask);
    EXPECT_EQ(parsed.rejected, c.rejected);
  }
  for (const char* jid : {"", "u v@example.net", "a:b@example.net", "bob@exa mple.net"}) {
    auto item = XmlElem::ParseFromString(std::string("<item jid='") + jid + "'/>");
    RosterItem parsed;
    EXPECT_FALSE(RosterItem::Parse(*item, &parsed)) << jid;
  }
}

TEST(RosterSetTaskTest, ChangesGoOutInOneIqAndFollowUpsWaitForTheAnswer) {
  SignedInConnection session;
  auto* task = new RosterSetTask(session.connection());  // id "2"
  RosterItem bob;
  bob.address = XmppAddress("bob@example.net");
  bob.name = "Bob & Co";
  bob.groups = {"Friends", "Work"};
  bob.list_mode = RosterListMode::kHidden;
  RosterItem carol;
  carol.address = XmppAddress("carol@example.net");
  carol.list_mode = RosterListMode::kBlocked;
  RosterItem dave;
  dave.address = XmppAddress("dave@example.net");
  dave.name = "Dave";
  EXPECT_EQ(task->AddItem(bob), EngineResult::kOk);
  EXPECT_EQ(task->AddItem(carol), EngineResult::kOk);
  EXPECT_EQ(task->AddItem(dave), EngineResult::kOk);
  EXPECT_EQ(task->RemoveItem(XmppAddress("erin@example.net")), EngineResult::kOk);
  EXPECT_EQ(task->RemoveItem(XmppAddress()), EngineResult::kBadArgument);
  task->SendAfterAnswer(*SubscriptionSender::MakeSubscription(kStrSubscribe, bob.address));
  task->SendAfterAnswer(*SubscriptionSender::MakeSubscription(kStrSubscribed, bob.address));
  task->Start();
  EXPECT_EQ(session.TakeSent(),
            "<iq type=\"set\" id=\"2\"><query xmlns=\"jabber:iq:roster\" "
            "xmlns:gr=\"ombrix:roster\" gr:ext=\"true\">"
            "<item jid=\"bob@example.net\" name=\"Bob &amp; Co\" gr:t=\"H\">"
            "<group>Friends</group><group>Work</group></item>"
            "<item jid=\"carol@example.net\" name=\"\" gr:t=\"B\"/>"
            "<item jid=\"dave@example.net\" name=\"Dave\"/>"
            "<item jid=\"erin@example.net\" subscription=\"remove\"/>"
            "</query></iq>");
  EXPECT_EQ(task->AddItem(dave), EngineResult::kBadState);
  EXPECT_EQ(task->RemoveItem(dave.address), EngineResult::kBadState);
  // An answer from somebody else is not the server's.
  session.ServerSends("<iq type='result' id='2' from='bob@example.net/x'/>");
  EXPECT_EQ(session.TakeSent(), "");
  EXPECT_FALSE(task->done());
  // Whatever the server says, the follow-ups go out in order.
  session.ServerSends("<iq type='error' id='2'><error type='modify'><bad-request "
                      "xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>");
  EXPECT_EQ(session.TakeSent(),
            "<presence type=\"subscribe\" to=\"bob@example.net\"/>"
            "<presence type=\"subscribed\" to=\"bob@example.net\"/>");
  EXPECT_EQ(session.runner.task_count(), 1u);  // only the connection is left
}

TEST(RosterCounterTaskTest, CommandsAndTheirAnswers) {
  SignedInConnection session;
  auto* increment = new RosterCounterTask(session.connection());  // id "2"
  EXPECT_EQ(increment->IncrementMessageCount(XmppAddress("bob@example.net"), 3), EngineResult::kOk);
  EXPECT_EQ(increment->BoostMessageCount(XmppAddress("bob@example.net"), 1),
            EngineResult::kBadState);
  auto* boost = new RosterCounterTask(session.connection());  // id "3"
  EXPECT_EQ(boost->BoostMessageCount(XmppAddress("carol@example.net"), 10), EngineResult::kOk);
  increment->Start();
  boost->Start();
  EXPECT_EQ(session.TakeSent(),
            "<iq type=\"set\" id=\"2\"><increment-mc xmlns=\"ombrix:roster\" "
            "jid=\"bob@example.net\" value=\"3\"/></iq>"
            "<iq type=\"set\" id=\"3\"><boost-mc xmlns=\"ombrix:roster\" "
            "jid=\"carol@example.net\" value=\"10\"/></iq>");
  session.ServerSends("<iq type='result' id='2' from='example.net'/>");
  session.ServerSends("<iq type='error' id='3'/>");
  EXPECT_EQ(session.runner.task_count(), 1u);
}

class InvitesRemainingTest : public ::testing::Test {
 protected:
  // Starts a request and returns what it sent.
  std::string Ask() {
    task_ = new InvitesRemainingTask(session_.connection());
    task_->SignalInvitesRemaining.Connect(&host_, [this](int32_t n) { counts_.push_back(n); });
    task_->Start();
    return session_.TakeSent();
  }
  SignedInConnection session_;
  SlotHost host_;
  InvitesRemainingTask* task_ = nullptr;
  std::vector<int32_t> counts_;
};

TEST_F(InvitesRemainingTest, ReadableCountsAreReportedAndEverythingElseEndsQuietly) {
  EXPECT_EQ(Ask(), "<iq type=\"get\" id=\"2\"><invites-remaining xmlns=\"ombrix:roster\"/></iq>");
  session_.ServerSends("<iq type='error' id='2'/>");
  struct Case {
    const char* answer;
    int expected;  // -1: no signal
  };
  const Case cases[] = {
      {"<iq type='result' id='ID'><invites-remaining xmlns='ombrix:roster'>12</invites-remaining></iq>", 12},
      {"<iq type='result' id='ID' from='example.net'><invites-remaining xmlns='ombrix:roster'>0</invites-remaining></iq>", 0},
      {"<iq type='result' id='ID'/>", -1},
      {"<iq type='error' id='ID'><invites-remaining xmlns='ombrix:roster'>5</invites-remaining></iq>", -1},
      {"<iq type='result' id='ID'><invites-remaining xmlns='ombrix:roster'>many</invites-remaining></iq>", -1},
      {"<iq type='result' id='ID'><invites-remaining xmlns='ombrix:roster'>-3</invites-remaining></iq>", -1},
      {"<iq type='result' id='ID'><invites-remaining xmlns='ombrix:roster'>99999999999</invites-remaining></iq>", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    Ask();
    counts_.clear();
    std::string answer = c.answer;
    answer.replace(answer.find("ID"), 2, task_->task_id());
    session_.ServerSends(answer);
    if (c.expected < 0) {
      EXPECT_TRUE(counts_.empty());
    } else {
      EXPECT_EQ(counts_, std::vector<int32_t>{c.expected});
    }
    EXPECT_EQ(session_.runner.task_count(), 1u);
  }
}

TEST_F(InvitesRemainingTest, AnswerFromAContactIsIgnoredAndTheTimeLimitEndsTheTask) {
  Ask();
  session_.ServerSends(
      "<iq type='result' id='2' from='bob@example.net/x'><invites-remaining "
      "xmlns='ombrix:roster'>50</invites-remaining></iq>");
  EXPECT_TRUE(counts_.empty());
  EXPECT_EQ(session_.runner.task_count(), 2u);
  session_.runner.PollTasks();  // well within the limit
  session_.Pump();
  EXPECT_EQ(session_.runner.task_count(), 2u);
  task_->SetTimeout(0);
  session_.runner.PollTasks();
  session_.Pump();
  EXPECT_EQ(session_.runner.task_count(), 1u);
  EXPECT_TRUE(counts_.empty());
}

TEST(SubscriptionSenderTest, SendsItsQueueInOrder) {
  SignedInConnection session;
  auto* sender = new SubscriptionSender(session.connection());
  const XmppAddress bob("bob@example.net");
  sender->Subscribe(bob, "", "", "");
  sender->Subscribe(bob, "Alice", "Let's talk <now>", "en");
  sender->Subscribe(bob, "", "Hi", "");
  sender->Subscribe(bob, "Alice", "", "fr");
  sender->Unsubscribe(bob);
  sender->Subscribed(bob);
  sender->Unsubscribed(bob);
  sender->Start();
  EXPECT_EQ(session.TakeSent(),
            "<presence type=\"subscribe\" to=\"bob@example.net\"/>"
            "<presence type=\"subscribe\" to=\"bob@example.net\">"
            "<invitation xmlns=\"ombrix:subscribe\"><name>Alice</name>"
            "<body xml:lang=\"en\">Let's talk &lt;now&gt;</body></invitation></presence>"
            "<presence type=\"subscribe\" to=\"bob@example.net\">"
            "<invitation xmlns=\"ombrix:subscribe\"><body>Hi</body></invitation></presence>"
            "<presence type=\"subscribe\" to=\"bob@example.net\">"
            "<invitation xmlns=\"ombrix:subscribe\"><name>Alice</name></invitation></presence>"
            "<presence type=\"unsubscribe\" to=\"bob@example.net\"/>"
            "<presence type=\"subscribed\" to=\"bob@example.net\"/>"
            "<presence type=\"unsubscribed\" to=\"bob@example.net\"/>");
  EXPECT_EQ(session.runner.task_count(), 1u);
}

// Without a connection nothing can be sent: every sending task ends in error.
TEST(RosterTasksTest, FailedSendEndsInError) {
  const XmppAddress bob("bob@example.net");
  const std::function<StepTask*(StepTaskParent*)> makers[] = {
      [&](StepTaskParent* p) {
        auto* task = new SubscriptionSender(p);
        task->Subscribe(bob);
        return task;
      },
      [&](StepTaskParent* p) {
        auto* task = new RosterSetTask(p);
        task->RemoveItem(bob);
        return task;
      },
      [&](StepTaskParent* p) {
        auto* task = new RosterCounterTask(p);
        task->IncrementMessageCount(bob, 1);
        return task;
      },
      [](StepTaskParent* p) { return new InvitesRemainingTask(p); },
  };
  for (const auto& make : makers) {
    QueueTaskRunner runner;
    make(&runner)->Start();
    for (int i = 0; i < 3; ++i) ThreadRegistry::Current()->RunFor(0);
    EXPECT_EQ(runner.task_count(), 0u);
    EXPECT_TRUE(runner.child_error());
  }
}

}  // namespace
}  // namespace vexalo
