#include "app/chatapp.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/phonecalls.h"
#include "phone/callparty.h"
#include "support/logcapture.h"

namespace vexalo {
namespace {

const XmppAddress kAlice("alice@example.test/a");
const XmppAddress kBob("bob@example.test/b");

// One signed-in user with the application's calls on a registry of its own.
struct AppParty {
  AppParty(const XmppAddress& address, VirtualQueue* queue)
      : jid(address.ToString()),
        allocator(queue, nullptr, PartyIp()),
        registry(&allocator, queue, nullptr),
        calls(&registry, jid, nullptr, kSessionNs, kPhoneNs, ManualEngine()),
        client(*calls.call_client()) {}

  std::string jid;
  LoopbackAllocator allocator;
  SessionRegistry registry;
  PhoneCalls calls;
  CallClient& client;
  std::vector<std::string> replies;
};

PresenceStatus Presence(const XmppAddress& from, bool voice, ShowState show = ShowState::kOnline) {
  PresenceStatus status;
  status.address = from;
  status.available = true;
  status.show = show;
  if (voice) status.caps_ext.insert(ContactRecord::kVoiceCapability);
  return status;
}

RosterItem Contact(const XmppAddress& address, RosterSubscription subscription) {
  RosterItem item;
  item.address = address.WithoutResource();
  item.subscription = subscription;
  return item;
}

// Alice and Bob, contacts of each other, each seeing the other's voice-capable resource.
class ChatAppTest : public ::testing::Test, public SlotHost {
 protected:
  void SetUp() override {
    router_.Add(&alice_);
    router_.Add(&bob_);
    for (AppParty* party : {&alice_, &bob_}) {
      party->registry.RequestSignaling.Connect(
          this, [party] { party->registry.OnSignalingReady(); });
    }
    alice_.calls.OnRosterItem(Contact(kBob, RosterSubscription::kBoth));
    alice_.calls.OnPresence(Presence(kBob, true));
    bob_.calls.OnRosterItem(Contact(kAlice, RosterSubscription::kBoth));
    bob_.calls.OnPresence(Presence(kAlice, true));
    for (AppParty* party : {&alice_, &bob_}) {
      party->calls.SignalCallState.Connect(this, [this, party](const XmppAddress&, int32_t state) {
        (party == &alice_ ? alice_states_ : bob_states_).push_back(state);
      });
    }
  }
  void Run(int ms) {
    for (int t = 0; t < ms; t += 10) {
      router_.Pump();
      queue_.Advance(10);
    }
    router_.Pump();
  }
  ChatApp* AliceForBob() { return alice_.calls.ChatAppFor(kBob); }
  ChatApp* BobForAlice() { return bob_.calls.ChatAppFor(kAlice); }
  void Connect() {
    AliceForBob()->OnCallCommand();
    Run(50);
    ASSERT_EQ(BobForAlice()->state(), CUS_INCOMING_RING);
    BobForAlice()->OnAnswerCommand();
    Run(50);
    ASSERT_EQ(AliceForBob()->state(), CUS_ACTIVE_CALL);
  }

  VirtualQueue queue_;
  std::vector<int32_t> alice_states_, bob_states_;
  AppParty alice_{kAlice, &queue_};
  AppParty bob_{kBob, &queue_};
  StanzaRouter router_;
};

TEST_F(ChatAppTest, CallsTheResourceThatOffersVoice) {
  const XmppAddress phone("carol@example.test/phone");
  const XmppAddress desk("carol@example.test/desk");
  alice_.calls.OnRosterItem(Contact(phone, RosterSubscription::kBoth));
  ChatApp* carol = alice_.calls.ChatAppFor(phone.WithoutResource());
  EXPECT_EQ(carol->state(), CUS_NOT_CALLABLE);
  alice_.calls.OnPresence(Presence(desk, false));
  EXPECT_EQ(carol->state(), CUS_NOT_CALLABLE);
  alice_.calls.OnPresence(Presence(phone, true, ShowState::kAway));
  EXPECT_EQ(carol->state(), CUS_CALLABLE);
  EXPECT_EQ(carol->CallTarget(), phone);
  carol->OnCallCommand();
  EXPECT_EQ(carol->pending_target(), phone);
  EXPECT_EQ(carol->state(), CUS_OUTGOING_RING);
  ASSERT_NE(carol->session(), nullptr);
  EXPECT_EQ(carol->session()->remote_name(), phone.ToString());
  // Its voice resource leaves: the call attempt ends and nothing offers voice any more.
  carol->OnHangUpCommand();
  Run(100);
  PresenceStatus gone = Presence(phone, true);
  gone.available = false;
  alice_.calls.OnPresence(gone);
  EXPECT_EQ(carol->state(), CUS_NOT_CALLABLE);
}

TEST_F(ChatAppTest, PlaceAnswerMuteHoldResumeAndHangUp) {
  Connect();
  EXPECT_EQ(BobForAlice()->state(), CUS_ACTIVE_CALL);
  // The active calls have the audio focus on both sides.
  EXPECT_EQ(alice_.client.focus(), AliceForBob()->call());
  EXPECT_EQ(bob_.client.focus(), BobForAlice()->call());
  ChatApp* alice = AliceForBob();
  alice->Mute();
  EXPECT_EQ(alice->state(), CUS_CALL_ON_MUTE);
  EXPECT_TRUE(alice->call()->muted());
  alice->Hold();  // not from mute
  EXPECT_EQ(alice->state(), CUS_CALL_ON_MUTE);
  alice->Resume();
  EXPECT_EQ(alice->state(), CUS_ACTIVE_CALL);
  EXPECT_FALSE(alice->call()->muted());
  alice->Hold();
  EXPECT_EQ(alice->state(), CUS_CALL_ON_HOLD);
  // Held, the call gives up the audio.
  EXPECT_EQ(alice_.client.focus(), nullptr);
  alice->Resume();
  EXPECT_EQ(alice_.client.focus(), alice->call());
  // Bob hangs up: both end and are callable again.
  BobForAlice()->OnHangUpCommand();
  Run(100);
  EXPECT_EQ(alice->call(), nullptr);
  EXPECT_EQ(alice->state(), CUS_CALLABLE);
  EXPECT_EQ(BobForAlice()->state(), CUS_CALLABLE);
  EXPECT_TRUE(alice_.client.calls().empty());
  EXPECT_TRUE(bob_.client.calls().empty());
  const std::vector<int32_t> alice_path = {CUS_CALLABLE,     CUS_OUTGOING_RING, CUS_ACTIVE_CALL,
                                           CUS_CALL_ON_MUTE, CUS_ACTIVE_CALL,   CUS_CALL_ON_HOLD,
                                           CUS_ACTIVE_CALL,  CUS_CALLABLE};
  EXPECT_EQ(alice_states_, alice_path);
  const std::vector<int32_t> bob_path = {CUS_CALLABLE, CUS_INCOMING_RING, CUS_ACTIVE_CALL,
                                         CUS_CALLABLE};
  EXPECT_EQ(bob_states_, bob_path);
}

TEST_F(ChatAppTest, RejectingARingingCallEndsItOnBothSides) {
  AliceForBob()->OnCallCommand();
  Run(50);
  ASSERT_EQ(BobForAlice()->state(), CUS_INCOMING_RING);
  BobForAlice()->OnRejectCommand();
  Run(100);
  EXPECT_EQ(AliceForBob()->state(), CUS_CALLABLE);
  EXPECT_EQ(BobForAlice()->state(), CUS_CALLABLE);
  EXPECT_TRUE(alice_.client.calls().empty());
}

TEST_F(ChatAppTest, CommandsInTheWrongStateDoNothing) {
  ChatApp* alice = AliceForBob();
  alice->Mute();
  alice->Hold();
  alice->Resume();
  alice->OnAnswerCommand();
  EXPECT_EQ(alice->state(), CUS_CALLABLE);
  EXPECT_EQ(alice->call(), nullptr);
  // A refused change without a call ends nothing and settles on what the contact offers.
  alice->SetCallUserState(CUS_ACTIVE_CALL);
  EXPECT_EQ(alice->state(), CUS_CALLABLE);
  EXPECT_EQ(alice->end_reason(), ChatApp::kRefused);
}

TEST_F(ChatAppTest, PeerRefusingSessionMessagesLosesVoiceUntilItAnnouncesItAgain) {
  AliceForBob()->OnCallCommand();
  Session* session = AliceForBob()->session();
  ASSERT_NE(session, nullptr);
  session->SetError(Session::ERROR_RESPONSE);
  Run(100);
  EXPECT_EQ(AliceForBob()->end_reason(), ChatApp::kRefused);
  EXPECT_EQ(AliceForBob()->call(), nullptr);
  EXPECT_EQ(AliceForBob()->state(), CUS_NOT_CALLABLE);
  alice_.calls.OnPresence(Presence(kBob, true));
  EXPECT_EQ(AliceForBob()->state(), CUS_CALLABLE);
}

TEST_F(ChatAppTest, CallsFromStrangersAreRejectedAndLoggedOnce) {
  LogCapture log(kInfo);
  bob_.calls.OnRosterItem(Contact(kAlice, RosterSubscription::kFrom));
  for (int i = 0; i < 2; ++i) {
    alice_.calls.CallContact(kBob);
    Run(100);
    EXPECT_TRUE(bob_.client.calls().empty());
    EXPECT_EQ(AliceForBob()->state(), CUS_CALLABLE);
  }
  EXPECT_EQ(log.Matching("who is not a contact").size(), 1u);
  EXPECT_EQ(bob_states_.size(), 0u);
}

TEST_F(ChatAppTest, ASecondCallFromTheSameContactIsHungUp) {
  Connect();
  Call* first = BobForAlice()->call();
  Call* extra = alice_.client.CreateCall();
  extra->InitiateSession(kBob.ToString());
  Run(100);
  EXPECT_EQ(BobForAlice()->call(), first);
  EXPECT_EQ(bob_.client.calls().size(), 1u);
  EXPECT_EQ(BobForAlice()->state(), CUS_ACTIVE_CALL);
}

// The sounds follow each side's call-user states: the caller hears the ring-back, the callee
// the ring; a second caller while a call has the audio gets the waiting tone; a contact who
// comes online meanwhile does not silence it; answering or ending stops the sound.
TEST_F(ChatAppTest, CallSoundsFollowTheCallStates) {
  // No device: the players keep their timing on their own threads.
  for (AppParty* party : {&alice_, &bob_}) {
    party->calls.SetCallSounds(std::make_unique<SoundPlayer>([] { return nullptr; }));
  }
  const XmppAddress kCarol("carol@example.test/c");
  AppParty carol(kCarol, &queue_);
  router_.Add(&carol);
  carol.registry.RequestSignaling.Connect(this, [&carol] { carol.registry.OnSignalingReady(); });
  carol.calls.OnRosterItem(Contact(kBob, RosterSubscription::kBoth));
  carol.calls.OnPresence(Presence(kBob, true));
  bob_.calls.OnRosterItem(Contact(kCarol, RosterSubscription::kBoth));
  ASSERT_EQ(bob_.calls.ChatAppFor(kCarol)->state(), CUS_NOT_CALLABLE);

  AliceForBob()->OnCallCommand();
  Run(50);
  EXPECT_EQ(alice_.calls.call_sound(), kSoundRingBack);
  EXPECT_EQ(bob_.calls.call_sound(), kSoundIncomingRing);
  bob_.calls.OnPresence(Presence(kCarol, true));  // Carol callable for Bob: the ring goes on
  ASSERT_EQ(bob_.calls.ChatAppFor(kCarol)->state(), CUS_CALLABLE);
  EXPECT_EQ(bob_.calls.call_sound(), kSoundIncomingRing);
  BobForAlice()->OnAnswerCommand();
  Run(50);
  EXPECT_EQ(alice_.calls.call_sound(), kSoundNone);
  EXPECT_EQ(bob_.calls.call_sound(), kSoundNone);

  carol.calls.ChatAppFor(kBob)->OnCallCommand();
  Run(50);
  EXPECT_EQ(bob_.calls.ChatAppFor(kCarol)->state(), CUS_INCOMING_RING);
  EXPECT_EQ(bob_.calls.call_sound(), kSoundCallWaiting);
  bob_.calls.ChatAppFor(kCarol)->OnHangUpCommand();
  Run(100);
  EXPECT_EQ(bob_.calls.call_sound(), kSoundNone);

  // With rings off an incoming call is silent; the caller still hears the ring-back.
  BobForAlice()->OnHangUpCommand();
  Run(100);
  Settings quiet;
  quiet.call_ring = 0;
  bob_.calls.SetSoundSettings(quiet);
  AliceForBob()->OnCallCommand();
  Run(50);
  EXPECT_EQ(alice_.calls.call_sound(), kSoundRingBack);
  EXPECT_EQ(bob_.calls.call_sound(), kSoundNone);
}

TEST(ChatAppQuality, LevelFollowsTheBestConnectionsRoundTrip) {
  const struct {
    bool best, writable;
    uint32_t rtt;
    int level;
  } cases[] = {{true, true, 40, 5},   {true, true, 100, 5},  {true, true, 101, 4},
               {true, true, 250, 4},  {true, true, 500, 3},  {true, true, 1000, 2},
               {true, true, 1001, 1}, {true, false, 40, 0},  {false, true, 40, 0}};
  for (const auto& c : cases) {
    ConnectionInfo info;
    info.best = c.best;
    info.writable = c.writable;
    info.rtt = c.rtt;
    const ConnectionInfo* best = nullptr;
    EXPECT_EQ(ChatApp::QualityLevel({info}, &best), c.level) << c.rtt;
  }
}

TEST(ContactRecordChoice, PicksByAvailabilityStampTextThenAddress) {
  auto status = [](const char* jid, ShowState show, const char* stamp, const char* text,
                   int priority = 0) {
    PresenceStatus s = Presence(XmppAddress(jid), true, show);
    s.delay_stamp = stamp;
    s.status = text;
    s.priority = priority;
    return s;
  };
  const struct {
    const char* name;
    std::vector<PresenceStatus> resources;
    std::string chosen;
  } cases[] = {
      {"online beats away", {status("c@x/a", ShowState::kOnline, "", ""),
                             status("c@x/b", ShowState::kAway, "9", "t")}, "c@x/a"},
      {"dnd ranks as online", {status("c@x/a", ShowState::kXa, "", ""),
                               status("c@x/b", ShowState::kDnd, "", "")}, "c@x/b"},
      {"later stamp", {status("c@x/b", ShowState::kOnline, "2", ""),
                       status("c@x/a", ShowState::kOnline, "1", "")}, "c@x/b"},
      {"status text", {status("c@x/b", ShowState::kOnline, "", "hi"),
                       status("c@x/a", ShowState::kOnline, "", "")}, "c@x/b"},
      {"greatest address", {status("c@x/b", ShowState::kOnline, "", ""),
                            status("c@x/a", ShowState::kOnline, "", "")}, "c@x/b"},
      {"negative priority skipped", {status("c@x/a", ShowState::kOnline, "", "", -1)}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ContactRecord record;
    for (const PresenceStatus& s : c.resources) record.UpdatePresence(s);
    XmppAddress chosen = record.ChooseResource(true);
    EXPECT_EQ(chosen.IsValid() ? chosen.ToString() : std::string(), c.chosen);
  }
}

}  // namespace
}  // namespace vexalo
