#include "session/phone/callclient.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "phone/callparty.h"
#include "session/phone/voicechannel.h"
#include "support/logcapture.h"
#include "support/voice/toneanalysis.h"
#include "voice/audioformat.h"

namespace vexalo {
namespace {

std::vector<std::string> Names(const std::vector<Codec>& codecs) {
  std::vector<std::string> names;
  for (const Codec& codec : codecs) names.push_back(codec.name);
  return names;
}

// Alice and Bob with call clients, talking through a router, on one virtual clock.
class CallClientTest : public ::testing::Test, public SlotHost {
 protected:
  void SetUp() override { Join(); }
  void Join() {
    router_.Add(alice_.get());
    router_.Add(bob_.get());
    for (CallParty* party : {alice_.get(), bob_.get()}) {
      party->registry.RequestSignaling.Connect(
          this, [party] { party->registry.OnSignalingReady(); });
    }
    bob_->client.CallCreated.Connect(this, [this](Call* call) { bob_call_ = call; });
    bob_->client.CallDestroyed.Connect(this, [this](Call* call) {
      if (call == bob_call_) bob_call_ = nullptr;
    });
    alice_->client.CallDestroyed.Connect(this, [this](Call* call) {
      if (call == alice_call_) alice_call_ = nullptr;
    });
  }
  void Run(int ms) {
    for (int t = 0; t < ms; t += 10) {
      router_.Pump();
      queue_.Advance(10);
      alice_->engine->RunFrames(1);
      bob_->engine->RunFrames(1);
    }
    router_.Pump();
  }
  // Alice calls Bob; Bob's client makes a call of its own for it.
  void Place() {
    alice_call_ = alice_->client.CreateCall();
    alice_session_ = alice_call_->InitiateSession(bob_->jid);
    ASSERT_NE(alice_session_, nullptr);
    Run(50);
    ASSERT_NE(bob_call_, nullptr);
    ASSERT_EQ(bob_call_->sessions().size(), 1u);
    bob_session_ = bob_call_->sessions()[0];
  }
  void Answer() {
    bob_call_->AcceptSession(bob_session_);
    Run(50);
  }
  std::string Initiate(const std::string& payload_types) {
    return "<iq xmlns='jabber:client' type='set' id='h1' from='carol@example.test/c' "
           "to='bob@example.test/b'><session xmlns='" + kSessionNs +
           "' type='initiate' id='77' initiator='carol@example.test/c'><description xmlns='" +
           kPhoneNs + "'>" + payload_types + "</description></session></iq>";
  }

  VirtualQueue queue_;
  std::unique_ptr<CallParty> alice_ = std::make_unique<CallParty>("alice@example.test/a", &queue_);
  std::unique_ptr<CallParty> bob_ = std::make_unique<CallParty>("bob@example.test/b", &queue_);
  StanzaRouter router_;
  Call* alice_call_ = nullptr;
  Call* bob_call_ = nullptr;
  Session* alice_session_ = nullptr;
  Session* bob_session_ = nullptr;
};

TEST_F(CallClientTest, OfferAnswerAndHangUpEndBothCalls) {
  Place();
  EXPECT_EQ(bob_session_->state(), Session::STATE_RECEIVEDINITIATE);
  EXPECT_EQ(Names(CallClient::RemoteDescription(bob_session_).codecs()),
            (std::vector<std::string>{"opus", "PCMU", "PCMA", "CN", "speex"}));
  EXPECT_NE(bob_call_->ChannelOf(bob_session_), nullptr);
  EXPECT_EQ(bob_->client.CallOf(bob_session_), bob_call_);
  Answer();
  EXPECT_EQ(alice_session_->state(), Session::STATE_INPROGRESS);
  EXPECT_EQ(Names(CallClient::RemoteDescription(alice_session_).codecs()),
            (std::vector<std::string>{"opus", "PCMU", "PCMA", "CN", "speex"}));
  alice_call_->Terminate();
  Run(100);
  EXPECT_EQ(alice_call_, nullptr);
  EXPECT_EQ(bob_call_, nullptr);
  EXPECT_TRUE(alice_->client.calls().empty());
  EXPECT_TRUE(bob_->client.calls().empty());
  EXPECT_EQ(alice_->client.channel_pool()->channel_count(), 0u);
  EXPECT_EQ(bob_->client.channel_pool()->channel_count(), 0u);
}

TEST_F(CallClientTest, OfferWithoutACommonVoiceCodecIsRejectedAtOnce) {
  const struct {
    const char* name;
    std::string payload_types;
    bool rejected;
  } cases[] = {
      {"only a codec we lack", "<payload-type id='4' name='G723'/>", true},
      {"comfort noise alone", "<payload-type id='13' name='CN'/>", true},
      {"listed but unusable", "<payload-type id='0'/>", true},
      {"peer without opus", "<payload-type id='0' name='PCMU'/><payload-type id='8' name='PCMA'/>",
       false},
      {"old peer naming none", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bool rejected = false;
    Session* session = nullptr;
    bob_->registry.SessionCreated.Connect(this, [&](Session* created, bool) {
      session = created;
      created->StateChanged.Connect(this, [&](Session*, Session::State s) {
        rejected = rejected || s == Session::STATE_SENTREJECT;
      });
    });
    router_.Inject(Initiate(c.payload_types));
    Run(20);
    bob_->registry.SessionCreated.Disconnect(this);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(rejected, c.rejected);
    if (!c.rejected) {
      Call* call = bob_->client.CallOf(session);
      ASSERT_NE(call, nullptr);
      call->AcceptSession(session);
      const auto* answer =
          dynamic_cast<const PhoneDescription*>(session->local_description().get());
      ASSERT_NE(answer, nullptr);
      for (const Codec& codec : answer->codecs()) EXPECT_NE(codec.name, "opus");
      EXPECT_FALSE(answer->codecs().empty());
      call->Terminate();
    }
    Run(100);
    EXPECT_TRUE(bob_->client.calls().empty());
  }
}

TEST_F(CallClientTest, FocusEnablesOnlyOneCallsChannels) {
  Place();
  Call* second = alice_->client.CreateCall();
  std::vector<std::pair<Call*, Call*>> changes;
  alice_->client.FocusChanged.Connect(
      this, [&](Call* now, Call* old) { changes.emplace_back(now, old); });
  alice_->client.SetFocus(alice_call_);
  alice_->client.SetFocus(alice_call_);  // already the focus
  Run(10);
  VoiceChannel* channel = alice_call_->ChannelOf(alice_session_);
  ASSERT_NE(channel, nullptr);
  EXPECT_TRUE(channel->enabled());
  alice_->client.SetFocus(second);
  Run(10);
  EXPECT_FALSE(channel->enabled());
  alice_->client.SetFocus(alice_call_);
  Run(10);
  EXPECT_TRUE(channel->enabled());
  // Destroying the focus call clears the focus first.
  alice_->client.DestroyCall(alice_call_);
  alice_call_ = nullptr;
  const std::vector<std::pair<Call*, Call*>> expected = {
      {changes[0].first, nullptr}, {second, changes[0].first}, {changes[0].first, second},
      {nullptr, changes[0].first}};
  EXPECT_EQ(changes, expected);
  EXPECT_EQ(alice_->client.focus(), nullptr);
  alice_->client.DestroyCall(second);
  Run(100);
  EXPECT_EQ(bob_call_, nullptr);  // the destroyed call's session was ended
}

TEST_F(CallClientTest, ChangingDevicesPausesAndResumesChannels) {
  Place();
  LogCapture log(kInfo);
  EXPECT_TRUE(bob_->client.channel_pool()->SetAudioOptions(true, -1, -1));
  const std::string text = log.text();
  const size_t paused = text.find("Voice channel paused");
  const size_t unpaused = text.find("Voice channel unpaused");
  ASSERT_NE(paused, std::string::npos);
  ASSERT_NE(unpaused, std::string::npos);
  EXPECT_LT(paused, unpaused);
  EXPECT_FALSE(bob_call_->ChannelOf(bob_session_)->paused());
}

// With traffic: needs an address other than loopback (tests/scripts/p2p-netns.sh).
class PhoneMediaTest : public CallClientTest {
 protected:
  void SetUp() override {
    if (PartyIp() == 0x7F000001) {
      GTEST_SKIP() << "needs a non-loopback address (run through tests/scripts/p2p-netns.sh)";
    }
    folder_ = testing::TempFolder("phone-media");
    testing::WriteWav(folder_ + "/alice-in.wav", testing::MakeTone(440, 8000, 2.0, kEngineRate),
                      kEngineRate);
    testing::WriteWav(folder_ + "/bob-in.wav", testing::MakeTone(1000, 8000, 2.0, kEngineRate),
                      kEngineRate);
    alice_ = std::make_unique<CallParty>(
        "alice@example.test/a", &queue_,
        ManualEngine(folder_ + "/alice-in.wav", folder_ + "/alice-out.wav"));
    bob_ = std::make_unique<CallParty>(
        "bob@example.test/b", &queue_,
        ManualEngine(folder_ + "/bob-in.wav", folder_ + "/bob-out.wav"));
    Join();
  }
  // Ends the engines, which closes their recordings, and reads what `party` heard.
  std::vector<int16_t> Heard(CallParty* party, const std::string& name) {
    while (!party->client.calls().empty()) {
      party->client.DestroyCall(party->client.calls().begin()->second.get());
    }
    party->client.channel_pool()->Terminate();
    return testing::ReadWav(folder_ + "/" + name + "-out.wav");
  }
  int64_t PacketsSent(Call* call, Session* session, CallParty* party) {
    ChannelStats stats;
    party->engine->VE_GetChannelStats(call->ChannelOf(session)->media_channel()->channel(),
                                      &stats);
    return static_cast<int64_t>(stats.packets_sent);
  }
  void WaitWritable(VoiceChannel* a, VoiceChannel* b) {
    for (int i = 0; i < 300 && !(a->writable() && b->writable()); ++i) Run(10);
    ASSERT_TRUE(a->writable());
    ASSERT_TRUE(b->writable());
  }

  std::string folder_;
};

TEST_F(PhoneMediaTest, EachSideHearsTheOthersTone) {
  Place();
  Answer();
  alice_->client.SetFocus(alice_call_);
  bob_->client.SetFocus(bob_call_);
  WaitWritable(alice_call_->ChannelOf(alice_session_), bob_call_->ChannelOf(bob_session_));
  Run(3000);
  EXPECT_EQ(alice_call_->ChannelOf(alice_session_)->foreign_packets(), 0u);
  std::vector<int16_t> alice_heard = Heard(alice_.get(), "alice");
  std::vector<int16_t> bob_heard = Heard(bob_.get(), "bob");
  ASSERT_GE(alice_heard.size(), static_cast<size_t>(2 * kEngineRate));
  ASSERT_GE(bob_heard.size(), static_cast<size_t>(2 * kEngineRate));
  const size_t from = alice_heard.size() - kEngineRate;
  const double alice_hears_1000 = testing::ToneAmplitude(alice_heard, from, kEngineRate / 2, 1000, kEngineRate);
  const double alice_hears_440 = testing::ToneAmplitude(alice_heard, from, kEngineRate / 2, 440, kEngineRate);
  const size_t bob_from = bob_heard.size() - kEngineRate;
  const double bob_hears_440 = testing::ToneAmplitude(bob_heard, bob_from, kEngineRate / 2, 440, kEngineRate);
  const double bob_hears_1000 = testing::ToneAmplitude(bob_heard, bob_from, kEngineRate / 2, 1000, kEngineRate);
  // Gain control and noise suppression are on, so the level is not the sent one.
  EXPECT_GT(alice_hears_1000, 300);
  EXPECT_GT(bob_hears_440, 300);
  EXPECT_LT(alice_hears_440, alice_hears_1000 / 10);
  EXPECT_LT(bob_hears_1000, bob_hears_440 / 10);
}

TEST_F(PhoneMediaTest, SendsOnlyWhenEnabledAndWritableAndNotMuted) {
  Place();
  Answer();
  VoiceChannel* alice_channel = alice_call_->ChannelOf(alice_session_);
  WaitWritable(alice_channel, bob_call_->ChannelOf(bob_session_));
  Run(200);
  // Writable but without the focus: nothing goes out.
  EXPECT_EQ(PacketsSent(alice_call_, alice_session_, alice_.get()), 0);
  alice_->client.SetFocus(alice_call_);
  Run(200);
  const int64_t sent = PacketsSent(alice_call_, alice_session_, alice_.get());
  EXPECT_GT(sent, 5);
  alice_call_->Mute(true);
  Run(20);
  const int64_t at_mute = PacketsSent(alice_call_, alice_session_, alice_.get());
  Run(200);
  EXPECT_EQ(PacketsSent(alice_call_, alice_session_, alice_.get()), at_mute);
  EXPECT_TRUE(alice_channel->muted());
  alice_call_->Mute(false);
  Run(200);
  EXPECT_GT(PacketsSent(alice_call_, alice_session_, alice_.get()), at_mute + 5);
}

TEST_F(PhoneMediaTest, MonitorsReportTheChosenConnectionAndLevels) {
  Place();
  Answer();
  alice_->client.SetFocus(alice_call_);
  bob_->client.SetFocus(bob_call_);
  WaitWritable(alice_call_->ChannelOf(alice_session_), bob_call_->ChannelOf(bob_session_));
  std::vector<Tick> report_times;
  std::vector<ConnectionInfo> last;
  alice_call_->ConnectionMonitor.Connect(
      this, [&](Call*, Session*, const std::vector<ConnectionInfo>& infos) {
        report_times.push_back(queue_.Now());
        last = infos;
      });
  AudioLevels levels;
  int level_reports = 0;
  alice_call_->AudioMonitor.Connect(this, [&](Call*, Session*, const AudioLevels& l) {
    levels = l;
    ++level_reports;
  });
  alice_call_->StartConnectionMonitor(alice_session_, 100);
  alice_call_->StartAudioMonitor(alice_session_, 100);
  Run(1000);
  ASSERT_GE(report_times.size(), 3u);
  // Asked for 100 ms, polled every 250.
  EXPECT_EQ(report_times[2] - report_times[1], 250);
  EXPECT_GE(level_reports, 8);
  EXPECT_GT(levels.output_level, 0);
  int best = 0;
  for (const ConnectionInfo& info : last) {
    if (!info.best) continue;
    ++best;
    EXPECT_TRUE(info.writable);
    EXPECT_EQ(info.local_candidate.protocol, "udp");
  }
  EXPECT_EQ(best, 1);
  alice_call_->StopConnectionMonitor(alice_session_);
  const size_t reports = report_times.size();
  Run(600);
  EXPECT_EQ(report_times.size(), reports);
}

}  // namespace
}  // namespace vexalo
