// Roster, subscriptions, presence and shared status between two of our clients through a
// real Prosody: plain (standard roster and presence; the service's extensions missing, which
// the client must take quietly) and with our modules for the service's namespaces.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/runtime/queuetaskrunner.h"
#include "support/sockettestutil.h"
#include "support/peers/prosodypeer.h"
#include "xmpp/stream/constants.h"
#include "xmpp/roster/invitesremainingtask.h"
#include "xmpp/presence/presenceouttask.h"
#include "xmpp/presence/presencereceivetask.h"
#include "xmpp/roster/rostercountertask.h"
#include "xmpp/roster/rostersettask.h"
#include "xmpp/roster/rostertask.h"
#include "xmpp/presence/sharedstatusquerytask.h"
#include "xmpp/presence/sharedstatuspushtask.h"
#include "xmpp/presence/sharedstatussettask.h"
#include "xmpp/roster/subscriptionsender.h"
#include "support/liveclient.h"

namespace vexalo {
namespace {

// One of our clients with the long-lived services running and what they reported applied.
class Contact : public SlotHost {
 public:
  Contact(QueueTaskRunner* runner, const ProsodyPeer& server, const std::string& user,
          const std::string& resource = "test")
      : client_(runner, LocalServerSettings(server.port(), user, "pw-" + user, resource),
                server.certificate()) {}

  // Signs in, starts the roster and presence services and fetches the roster.
  ::testing::AssertionResult SignIn() {
    if (!RunUntil([&] { return client_.Open() || client_.Closed(); }) || !client_.Open()) {
      return ::testing::AssertionFailure() << "sign-in failed: " << EngineErrorName(client_.error);
    }
    connection()->SignalLogOutput.Connect(this, [this](const char* bytes, size_t n) {
      for (std::string_view out(bytes, n); out.find("<iq") != std::string_view::npos;) {
        ++iqs_sent;
        out.remove_prefix(out.find("<iq") + 3);
      }
    });
    roster = new RosterTask(connection());
    roster->SignalRosterBegin.Connect(this, [this] { items.clear(); });
    roster->SignalRosterEnd.Connect(this, [this] { ++roster_results; });
    roster->SignalItemUpdated.Connect(this, [this](const RosterItem& item) {
      items[item.address.ToString()] = item;
    });
    roster->SignalItemRemoved.Connect(this, [this](const RosterItem& item) {
      items.erase(item.address.ToString());
    });
    roster->SignalSubscribe.Connect(this, [this](const XmppAddress& a) { Note("subscribe", a); });
    roster->SignalSubscribed.Connect(this, [this](const XmppAddress& a) { Note("subscribed", a); });
    roster->SignalUnsubscribe.Connect(this, [this](const XmppAddress& a) { Note("unsubscribe", a); });
    roster->SignalUnsubscribed.Connect(this,
                                       [this](const XmppAddress& a) { Note("unsubscribed", a); });
    roster->Start();
    presence = new PresenceReceiveTask(connection());
    presence->SignalPresence.Connect(this, [this](const PresenceStatus& status) {
      presences[status.address.ToString()] = status;
    });
    presence->Start();
    roster->Refresh();
    if (!RunUntil([&] { return roster_results == 1; })) {
      return ::testing::AssertionFailure() << "no roster\n" << client_.Traffic();
    }
    return ::testing::AssertionSuccess();
  }

  XmppConnection* connection() const { return client_.connection(); }
  std::string Traffic() const { return client_.Traffic(); }
  bool HasEvent(const std::string& event) const {
    for (const std::string& e : events) {
      if (e == event) return true;
    }
    return false;
  }
  void SendPresence(const PresenceStatus& status) {
    auto* out = new PresenceOutTask(connection());
    out->SetStatus(status);
    out->Start();
  }
  SubscriptionSender* Sender() { return new SubscriptionSender(connection()); }

  RosterTask* roster = nullptr;
  PresenceReceiveTask* presence = nullptr;
  std::map<std::string, RosterItem> items;
  std::map<std::string, PresenceStatus> presences;
  std::vector<std::string> events;
  int roster_results = 0;
  int iqs_sent = 0;

 private:
  void Note(const std::string& what, const XmppAddress& who) {
    events.push_back(what + " " + who.ToString());
  }

  LiveClient client_;
};

PresenceStatus Online() {
  PresenceStatus status;
  status.available = true;
  return status;
}

// Two accounts become contacts both ways, then see each other's presence in full.
void HandshakeAndPresence(QueueTaskRunner* runner, const ProsodyPeer& server,
                          const std::string& a, const std::string& b) {
  Contact first(runner, server, a);
  Contact second(runner, server, b);
  ASSERT_TRUE(first.SignIn());
  ASSERT_TRUE(second.SignIn());
  const std::string a_bare = a + "@localhost";
  const std::string b_bare = b + "@localhost";
  first.SendPresence(Online());
  second.SendPresence(Online());

  // The first adds the second with a name and a group, and asks to see their presence.
  auto* add = new RosterSetTask(first.connection());
  RosterItem item;
  item.address = XmppAddress(b_bare);
  item.name = "Friend " + b;
  item.groups = {"Friends"};
  add->AddItem(item);
  add->SendAfterAnswer(*SubscriptionSender::MakeSubscribe(item.address, a, "Hello there", "en"));
  add->Start();
  ASSERT_TRUE(RunUntil([&] { return second.HasEvent("subscribe " + a_bare); }))
      << first.Traffic();
  ASSERT_TRUE(RunUntil([&] { return first.items[b_bare].ask_subscribe; }));
  EXPECT_EQ(first.items[b_bare].name, "Friend " + b);
  EXPECT_EQ(first.items[b_bare].groups, std::vector<std::string>{"Friends"});
  // The invitation travelled with the request.
  EXPECT_NE(second.Traffic().find("<invitation xmlns='ombrix:subscribe'>"), std::string::npos)
      << second.Traffic();

  // The second accepts and asks back.
  SubscriptionSender* reply = second.Sender();
  reply->Subscribed(XmppAddress(a_bare));
  reply->Subscribe(XmppAddress(a_bare));
  reply->Start();
  ASSERT_TRUE(RunUntil([&] {
    return first.HasEvent("subscribed " + b_bare) && first.HasEvent("subscribe " + b_bare);
  })) << first.Traffic();
  EXPECT_EQ(first.items[b_bare].subscription, RosterSubscription::kTo);
  SubscriptionSender* accept = first.Sender();
  accept->Subscribed(XmppAddress(b_bare));
  accept->Start();
  ASSERT_TRUE(RunUntil([&] {
    return first.items[b_bare].subscription == RosterSubscription::kBoth &&
           second.items[a_bare].subscription == RosterSubscription::kBoth;
  }));
  EXPECT_TRUE(second.HasEvent("subscribed " + a_bare));

  // Presence with everything the client announces.
  PresenceStatus busy = Online();
  busy.show = ShowState::kDnd;
  busy.status = "In a meeting \xE2\x82\xAC";
  busy.photo_hash_known = true;
  busy.photo_hash = "da39a3ee5e6b4b0d3255bfef95601890afd80709";
  busy.has_caps = true;
  busy.caps_ver_known = true;
  busy.caps_ver = "1.0.0.104";
  busy.caps_ext = {"pmuc-v1", "voice-v1"};
  first.SendPresence(busy);
  const std::string a_full = a_bare + "/test";
  ASSERT_TRUE(RunUntil([&] {
    return second.presences.count(a_full) && second.presences[a_full].show == ShowState::kDnd;
  }));
  const PresenceStatus& seen = second.presences[a_full];
  EXPECT_TRUE(seen.available);
  EXPECT_EQ(seen.status, busy.status);
  EXPECT_TRUE(seen.has_photo_update);
  EXPECT_TRUE(seen.photo_hash_known);
  EXPECT_EQ(seen.photo_hash, busy.photo_hash);
  EXPECT_TRUE(seen.has_caps);
  EXPECT_TRUE(seen.caps_ver_known);
  EXPECT_EQ(seen.caps_ver, "1.0.0.104");
  EXPECT_EQ(seen.caps_ext, busy.caps_ext);
  EXPECT_EQ(seen.priority, 0);
  EXPECT_EQ(seen.delay_stamp.size(), std::string("20070301T14:05:09").size());

  PresenceStatus away = Online();
  away.show = ShowState::kAway;
  away.status = "Back soon";
  away.photo_hash_known = true;  // no picture: an empty hash
  second.SendPresence(away);
  const std::string b_full = b_bare + "/test";
  ASSERT_TRUE(RunUntil([&] {
    return first.presences.count(b_full) && first.presences[b_full].show == ShowState::kAway;
  }));
  EXPECT_EQ(first.presences[b_full].status, "Back soon");
  EXPECT_TRUE(first.presences[b_full].photo_hash_known);
  EXPECT_EQ(first.presences[b_full].photo_hash, "");
  EXPECT_FALSE(first.presences[b_full].has_caps);

  PresenceStatus gone;
  gone.available = false;
  first.SendPresence(gone);
  ASSERT_TRUE(RunUntil([&] { return !second.presences[a_full].available; }));

  // The second ends the subscription to the first; both rosters follow.
  SubscriptionSender* end = second.Sender();
  end->Unsubscribe(XmppAddress(a_bare));
  end->Start();
  ASSERT_TRUE(RunUntil([&] {
    return first.HasEvent("unsubscribe " + b_bare) &&
           second.items[a_bare].subscription == RosterSubscription::kFrom;
  }));
  EXPECT_EQ(first.items[b_bare].subscription, RosterSubscription::kTo);
}

class RosterPresencePlainServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prosody_ = new ProsodyPeer();
    for (const char* user : {"ann", "ben", "hal", "ivy"}) {
      prosody_->AddUser(user, std::string("pw-") + user);
    }
  }
  static void TearDownTestSuite() {
    delete prosody_;
    prosody_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(prosody_->started()) << prosody_->error(); }

  SlotHost host_;
  QueueTaskRunner runner_;
  static ProsodyPeer* prosody_;
};
ProsodyPeer* RosterPresencePlainServerTest::prosody_ = nullptr;

TEST_F(RosterPresencePlainServerTest, SubscriptionHandshakeBothWaysAndPresence) {
  HandshakeAndPresence(&runner_, *prosody_, "ann", "ben");
}

// Without the service's modules every extension request gets an error answer once; the
// client takes it quietly: nothing reported, every task ends, nothing is asked again.
TEST_F(RosterPresencePlainServerTest, MissingServiceExtensionsDegradeQuietly) {
  Contact hal(&runner_, *prosody_, "hal");
  ASSERT_TRUE(hal.SignIn());
  // The standard roster works with the extension's attributes on the request.
  auto* add = new RosterSetTask(hal.connection());
  RosterItem ivy;
  ivy.address = XmppAddress("ivy@localhost");
  ivy.name = "Ivy";
  ivy.list_mode = RosterListMode::kHidden;
  add->AddItem(ivy);
  add->Start();
  ASSERT_TRUE(RunUntil([&] { return hal.items.count("ivy@localhost") > 0; }));
  EXPECT_EQ(hal.items["ivy@localhost"].name, "Ivy");
  EXPECT_EQ(hal.items["ivy@localhost"].list_mode, RosterListMode::kNormal);
  hal.roster->Refresh();
  ASSERT_TRUE(RunUntil([&] { return hal.roster_results == 2; }));
  EXPECT_EQ(hal.items.size(), 1u);

  const size_t base_tasks = runner_.task_count();
  int reports = 0;
  auto* invites = new InvitesRemainingTask(hal.connection());
  invites->SignalInvitesRemaining.Connect(&host_, [&](int32_t) { ++reports; });
  invites->Start();
  auto* counter = new RosterCounterTask(hal.connection());
  counter->IncrementMessageCount(ivy.address, 1);
  counter->Start();
  auto* shared = new SharedStatusQueryTask(hal.connection());
  shared->SignalSharedStatus.Connect(&host_, [&](const SharedStatus&) { ++reports; });
  shared->Start();
  SharedStatus status;
  status.status = "Here";
  (new SharedStatusSetTask(hal.connection(), status))->Start();
  ASSERT_TRUE(RunUntil([&] { return runner_.task_count() == base_tasks; })) << hal.Traffic();
  EXPECT_EQ(reports, 0);
  const int sent = hal.iqs_sent;
  // A quiet second: no retries.
  ThreadRegistry::Current()->RunFor(1000);
  EXPECT_EQ(hal.iqs_sent, sent);
  EXPECT_TRUE(hal.connection() != nullptr);
}

class RosterPresenceServiceServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prosody_ = new ProsodyPeer(
        {"ombrix_roster", "ombrix_shared_status"},
        "ombrix_roster_seed = { [\"cat@localhost\"] = { [\"eve@localhost\"] = {"
        " rejected = true, autosub = true, alias_for = \"evelyn@localhost\" } } }\n"
        "ombrix_invites = { [\"cat@localhost\"] = 7, [\"fay@localhost\"] = false }\n");
    for (const char* user : {"ann", "ben", "cat", "dan", "eve", "fay", "gus"}) {
      prosody_->AddUser(user, std::string("pw-") + user);
    }
  }
  static void TearDownTestSuite() {
    delete prosody_;
    prosody_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(prosody_->started()) << prosody_->error(); }
  static std::string ReadLog() {
    std::ifstream in(prosody_->log());
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }

  SlotHost host_;
  QueueTaskRunner runner_;
  static ProsodyPeer* prosody_;
};
ProsodyPeer* RosterPresenceServiceServerTest::prosody_ = nullptr;

TEST_F(RosterPresenceServiceServerTest, SubscriptionHandshakeBothWaysAndPresence) {
  HandshakeAndPresence(&runner_, *prosody_, "ann", "ben");
}

TEST_F(RosterPresenceServiceServerTest, ListModesCountersAndInvitations) {
  Contact cat(&runner_, *prosody_, "cat");
  ASSERT_TRUE(cat.SignIn());
  EXPECT_TRUE(cat.items.empty());

  // Two changes in one request: a hidden and a blocked contact.
  auto* set = new RosterSetTask(cat.connection());
  RosterItem dan;
  dan.address = XmppAddress("dan@localhost");
  dan.name = "Dan";
  dan.list_mode = RosterListMode::kHidden;
  RosterItem eve;
  eve.address = XmppAddress("eve@localhost");
  eve.groups = {"Work", "Chess"};
  eve.list_mode = RosterListMode::kBlocked;
  set->AddItem(dan);
  set->AddItem(eve);
  set->Start();
  ASSERT_TRUE(RunUntil([&] { return cat.items.size() == 2; })) << cat.Traffic();
  EXPECT_EQ(cat.items["dan@localhost"].list_mode, RosterListMode::kHidden);
  EXPECT_EQ(cat.items["eve@localhost"].list_mode, RosterListMode::kBlocked);
  EXPECT_EQ(cat.items["eve@localhost"].groups.size(), 2u);
  // Attributes the service keeps on its own.
  EXPECT_TRUE(cat.items["eve@localhost"].rejected);
  EXPECT_TRUE(cat.items["eve@localhost"].auto_subscribe);
  EXPECT_EQ(cat.items["eve@localhost"].alias_for.ToString(), "evelyn@localhost");

  // Counters: messages counted raise the weight; a boost raises it further.
  auto* increment = new RosterCounterTask(cat.connection());
  increment->IncrementMessageCount(dan.address, 3);
  increment->Start();
  ASSERT_TRUE(RunUntil([&] { return cat.items["dan@localhost"].message_count == 3; }));
  EXPECT_EQ(cat.items["dan@localhost"].weight, 3);
  auto* boost = new RosterCounterTask(cat.connection());
  boost->BoostMessageCount(dan.address, 4);
  boost->Start();
  ASSERT_TRUE(RunUntil([&] { return cat.items["dan@localhost"].weight == 7; }));
  EXPECT_EQ(cat.items["dan@localhost"].message_count, 3);
  // Refused commands (no such contact, no count) end their tasks without a change.
  const size_t tasks = runner_.task_count();
  auto* stranger = new RosterCounterTask(cat.connection());
  stranger->IncrementMessageCount(XmppAddress("zed@localhost"), 1);
  stranger->Start();
  auto* zero = new RosterCounterTask(cat.connection());
  zero->BoostMessageCount(dan.address, 0);
  zero->Start();
  ASSERT_TRUE(RunUntil([&] { return runner_.task_count() == tasks; }));
  EXPECT_EQ(cat.items.count("zed@localhost"), 0u);
  EXPECT_EQ(cat.items["dan@localhost"].weight, 7);

  // Back to normal, and one removed; the full roster agrees.
  auto* change = new RosterSetTask(cat.connection());
  dan.list_mode = RosterListMode::kNormal;
  change->AddItem(dan);
  change->RemoveItem(eve.address);
  change->Start();
  ASSERT_TRUE(RunUntil([&] { return cat.items.size() == 1; }));
  cat.roster->Refresh();
  ASSERT_TRUE(RunUntil([&] { return cat.roster_results == 2; }));
  ASSERT_EQ(cat.items.size(), 1u);
  EXPECT_EQ(cat.items["dan@localhost"].list_mode, RosterListMode::kNormal);
  EXPECT_EQ(cat.items["dan@localhost"].name, "Dan");
  EXPECT_EQ(cat.items["dan@localhost"].weight, 7);
  EXPECT_EQ(cat.items["dan@localhost"].message_count, 3);

  // Invitations left: cat has 7; fay's count is unavailable.
  std::vector<int32_t> counts;
  auto* invites = new InvitesRemainingTask(cat.connection());
  invites->SignalInvitesRemaining.Connect(&host_, [&](int32_t n) { counts.push_back(n); });
  invites->Start();
  ASSERT_TRUE(RunUntil([&] { return !counts.empty(); }));
  EXPECT_EQ(counts, std::vector<int32_t>{7});

  Contact fay(&runner_, *prosody_, "fay");
  ASSERT_TRUE(fay.SignIn());
  const size_t before = runner_.task_count();
  auto* refused = new InvitesRemainingTask(fay.connection());
  refused->SignalInvitesRemaining.Connect(&host_, [&](int32_t n) { counts.push_back(n); });
  refused->Start();
  ASSERT_TRUE(RunUntil([&] { return runner_.task_count() == before; }));
  EXPECT_EQ(counts.size(), 1u);
}

TEST_F(RosterPresenceServiceServerTest, SharedStatusIsSharedBetweenResources) {
  Contact one(&runner_, *prosody_, "gus", "one");
  Contact two(&runner_, *prosody_, "gus", "two");
  ASSERT_TRUE(one.SignIn());
  ASSERT_TRUE(two.SignIn());
  std::vector<SharedStatus> seen_one, seen_two;
  auto query = [&](Contact& c, std::vector<SharedStatus>* seen) {
    auto* task = new SharedStatusQueryTask(c.connection());
    task->SignalSharedStatus.Connect(&host_,
                                     [seen](const SharedStatus& s) { seen->push_back(s); });
    task->Start();
  };
  query(one, &seen_one);
  query(two, &seen_two);
  ASSERT_TRUE(RunUntil([&] { return seen_one.size() == 1 && seen_two.size() == 1; }))
      << one.Traffic() << ReadLog();
  EXPECT_EQ(seen_one[0].status, "");
  EXPECT_EQ(seen_one[0].show, "");
  EXPECT_EQ(seen_one[0].status_max, 512);
  EXPECT_EQ(seen_one[0].status_list_max, 3);
  EXPECT_EQ(seen_one[0].status_list_contents_max, 5);

  // The other resource listens for pushes.
  std::vector<SharedStatus> pushed;
  auto* push = new SharedStatusPushTask(two.connection());
  push->SignalSharedStatus.Connect(&host_, [&](const SharedStatus& s) { pushed.push_back(s); });
  push->Start();

  SharedStatus lunch;
  lunch.status = "Lunch";
  lunch.show = "dnd";
  lunch.lists = {{"", {"Lunch", "Working"}}, {"dnd", {"Call"}}};
  (new SharedStatusSetTask(one.connection(), lunch))->Start();
  ASSERT_TRUE(RunUntil([&] { return pushed.size() == 1; })) << two.Traffic();
  SharedStatus expected = lunch;
  EXPECT_EQ(pushed[0], expected);

  // Too long for the service: refused, nothing changes.
  SharedStatus too_long = lunch;
  too_long.status = std::string(600, 'x');
  const size_t tasks = runner_.task_count();
  (new SharedStatusSetTask(one.connection(), too_long))->Start();
  ASSERT_TRUE(RunUntil([&] { return runner_.task_count() == tasks; }));
  query(one, &seen_one);
  ASSERT_TRUE(RunUntil([&] { return seen_one.size() == 2; }));
  EXPECT_EQ(seen_one[1], expected);
  EXPECT_EQ(pushed.size(), 1u);
}

}  // namespace
}  // namespace vexalo
