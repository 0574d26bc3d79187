// Two real `vexalo --console` processes call each other through a real Prosody, with sound
// files for microphone and speaker, inside a network namespace (tests/scripts/p2p-netns.sh):
// each hears the other's tone, mute and hold silence the call, and hanging up ends both.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/consoleclient.h"
#include "support/peers/prosodypeer.h"
#include "support/voice/toneanalysis.h"

namespace vexalo {
namespace {

constexpr int kRate = 16000;

bool InNamespace() { return getenv("VEXALO_P2P_TEST_IP") != nullptr; }

// The amplitude of `frequency` in each 100 ms of a recording.
std::vector<double> Envelope(const std::vector<int16_t>& samples, double frequency) {
  std::vector<double> levels;
  const size_t step = kRate / 10;
  for (size_t at = 0; at + step <= samples.size(); at += step) {
    levels.push_back(testing::ToneAmplitude(samples, at, step, frequency, kRate));
  }
  return levels;
}

// Whether the tone is heard, then missing for at least `gap` windows, then heard again.
bool HeardGapHeard(const std::vector<double>& levels, double loud, double quiet, size_t gap) {
  size_t i = 0;
  while (i < levels.size() && levels[i] < loud) ++i;
  for (; i < levels.size(); ++i) {
    if (levels[i] >= quiet) continue;
    size_t run = 0;
    while (i + run < levels.size() && levels[i + run] < quiet) ++run;
    if (run >= gap) {
      for (size_t j = i + run; j < levels.size(); ++j) {
        if (levels[j] >= loud) return true;
      }
    }
    i += run;
  }
  return false;
}

class PeerCallTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    signal(SIGPIPE, SIG_IGN);
    prosody_ = new ProsodyPeer();
    prosody_->AddUser("alice", "alice-password");
    prosody_->AddUser("bob", "bob-password");
  }
  static void TearDownTestSuite() {
    delete prosody_;
    prosody_ = nullptr;
  }
  void SetUp() override {
    if (!InNamespace()) GTEST_SKIP() << "run through tests/scripts/p2p-netns.sh";
    folder_ = testing::TempFolder("call-peers");
    testing::WriteWav(folder_ + "/alice-in.wav", testing::MakeTone(440, 8000, 1.0, kRate), kRate);
    testing::WriteWav(folder_ + "/bob-in.wav", testing::MakeTone(1000, 8000, 1.0, kRate), kRate);
  }
  std::string Server() const { return "127.0.0.1:" + std::to_string(prosody_->port()); }
  std::vector<std::string> Audio(const std::string& name) const {
    return {"--audio-in", folder_ + "/" + name + "-in.wav", "--audio-out",
            folder_ + "/" + name + "-out.wav"};
  }
  static bool SawCallState(ConsoleClient& client, const std::string& peer,
                           const std::string& state, size_t from = 0) {
    return client
        .WaitFor([&](const ConsoleClient::Fields& f) {
          return f.size() == 3 && f[0] == "call" && f[1] == peer && f[2] == state;
        }, from)
        .has_value();
  }
  // Signs both in and makes them contacts that see each other.
  static void Befriend(ConsoleClient& alice, ConsoleClient& bob, const std::string& server) {
    ASSERT_TRUE(alice.Send("/signin alice@localhost " + server));
    ASSERT_TRUE(bob.Send("/signin bob@localhost " + server));
    ASSERT_TRUE(alice.WaitForLine({"state", "signed-in"})) << alice.Output() << alice.Stderr();
    ASSERT_TRUE(bob.WaitForLine({"state", "signed-in"})) << bob.Output() << bob.Stderr();
    ASSERT_TRUE(alice.Send("/add bob@localhost"));
    ASSERT_TRUE(bob.WaitForLine({"subscription", "alice@localhost", "subscribe"}));
    ASSERT_TRUE(bob.Send("/accept alice@localhost"));
    ASSERT_TRUE(alice.WaitForLine({"subscription", "bob@localhost", "subscribe"}));
    ASSERT_TRUE(alice.Send("/accept bob@localhost"));
    ASSERT_TRUE(alice.WaitForLine({"roster", "bob@localhost", "", "both"})) << alice.Output();
    ASSERT_TRUE(bob.WaitForLine({"roster", "alice@localhost", "", "both"})) << bob.Output();
  }
  // Calls until the callee's presence (with "voice-v1") has arrived and the call rings.
  static bool Ring(ConsoleClient& caller, const std::string& callee) {
    for (int attempt = 0; attempt < 50; ++attempt) {
      const size_t mark = caller.Mark();
      if (!caller.Send("/call " + callee)) return false;
      if (caller.WaitFor([&](const ConsoleClient::Fields& f) {
            return f.size() == 3 && f[0] == "call" && f[1] == callee &&
                   f[2] == "CUS_OUTGOING_RING";
          }, mark, 300)) {
        return true;
      }
      usleep(100 * 1000);
    }
    return false;
  }

  static ProsodyPeer* prosody_;
  std::string folder_;
};
ProsodyPeer* PeerCallTest::prosody_ = nullptr;

TEST_F(PeerCallTest, EachHearsTheOtherMuteAndHoldSilenceAndHangUpEndsBoth) {
  ASSERT_TRUE(prosody_->started()) << prosody_->error();
  {
    ConsoleClient alice("alice-password", prosody_->certificate(), Audio("alice"));
    ConsoleClient bob("bob-password", prosody_->certificate(), Audio("bob"));
    ASSERT_TRUE(alice.started() && bob.started());
    Befriend(alice, bob, Server());
    if (HasFatalFailure()) return;
    ASSERT_TRUE(Ring(alice, "bob@localhost")) << alice.Output() << alice.Stderr();
    ASSERT_TRUE(SawCallState(bob, "alice@localhost", "CUS_INCOMING_RING")) << bob.Output();
    ASSERT_TRUE(bob.Send("/answer"));
    ASSERT_TRUE(SawCallState(alice, "bob@localhost", "CUS_ACTIVE_CALL")) << alice.Output();
    ASSERT_TRUE(SawCallState(bob, "alice@localhost", "CUS_ACTIVE_CALL")) << bob.Output();
    // The quality and the meters come while the call runs; the path is direct.
    EXPECT_TRUE(alice.WaitFor([](const ConsoleClient::Fields& f) {
      return f.size() == 4 && f[0] == "callquality" && f[1] == "bob@localhost" && f[3] == "local";
    })) << alice.Output();
    EXPECT_TRUE(bob.WaitFor([](const ConsoleClient::Fields& f) {
      return f.size() == 3 && f[0] == "levels" && std::stoi(f[2]) > 0;
    })) << bob.Output();
    sleep(2);
    ASSERT_TRUE(alice.Send("/mute"));
    ASSERT_TRUE(SawCallState(alice, "bob@localhost", "CUS_CALL_ON_MUTE")) << alice.Output();
    sleep(2);
    ASSERT_TRUE(alice.Send("/unmute"));
    ASSERT_TRUE(SawCallState(alice, "bob@localhost", "CUS_ACTIVE_CALL", alice.Mark() - 1));
    sleep(2);
    // Bob holds: his call gives up the audio, so Alice stops hearing him (and he her).
    ASSERT_TRUE(bob.Send("/hold"));
    ASSERT_TRUE(SawCallState(bob, "alice@localhost", "CUS_CALL_ON_HOLD")) << bob.Output();
    sleep(2);
    const size_t resumed = bob.Mark();
    ASSERT_TRUE(bob.Send("/resume"));
    ASSERT_TRUE(SawCallState(bob, "alice@localhost", "CUS_ACTIVE_CALL", resumed)) << bob.Output();
    sleep(2);
    const size_t mark = alice.Mark();
    ASSERT_TRUE(bob.Send("/hangup"));
    EXPECT_TRUE(SawCallState(alice, "bob@localhost", "CUS_CALLABLE", mark)) << alice.Output();
    EXPECT_TRUE(SawCallState(bob, "alice@localhost", "CUS_CALLABLE")) << bob.Output();
    ASSERT_TRUE(alice.Send("/quit"));
    ASSERT_TRUE(bob.Send("/quit"));
    EXPECT_EQ(alice.ExitCode(), 0);
    EXPECT_EQ(bob.ExitCode(), 0);
  }
  const std::vector<int16_t> alice_heard = testing::ReadWav(folder_ + "/alice-out.wav");
  const std::vector<int16_t> bob_heard = testing::ReadWav(folder_ + "/bob-out.wav");
  ASSERT_GT(alice_heard.size(), static_cast<size_t>(4 * kRate));
  ASSERT_GT(bob_heard.size(), static_cast<size_t>(4 * kRate));
  const std::vector<double> alice_1000 = Envelope(alice_heard, 1000);
  const std::vector<double> alice_440 = Envelope(alice_heard, 440);
  const std::vector<double> bob_440 = Envelope(bob_heard, 440);
  auto loud = [](const std::vector<double>& levels) {
    size_t count = 0;
    for (double level : levels) count += level > 300 ? 1 : 0;
    return count;
  };
  // Each heard the other's tone for seconds, and never its own.
  EXPECT_GE(loud(alice_1000), 20u);
  EXPECT_GE(loud(bob_440), 20u);
  EXPECT_EQ(loud(alice_440), 0u);
  // Alice's mute left Bob a second or more without her tone, between stretches with it.
  EXPECT_TRUE(HeardGapHeard(bob_440, 300, 100, 10));
  // Bob's hold left Alice as long without his tone.
  EXPECT_TRUE(HeardGapHeard(alice_1000, 300, 100, 10));
}

}  // namespace
}  // namespace vexalo
