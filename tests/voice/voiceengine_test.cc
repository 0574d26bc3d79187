#include "voice/voiceengine.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "voice/audioformat.h"
#include "voice/packetpipe.h"
#include "support/voice/toneanalysis.h"
#include "voice/wavfileinput.h"
#include "voice/wavfileoutput.h"

namespace vexalo {
namespace {

using testing::MakeTone;
using testing::ReadWav;
using testing::ToneAmplitude;

constexpr double kToneLevel = 8000;

// One side of a call: an engine on the manual clock, a tone file as microphone and a file as
// speaker, one channel. Processing is off unless a test turns it on, so levels are exact.
struct Side {
  Side(const std::string& folder, const std::string& name, double frequency, int rate = 8000) {
    in_path = folder + "/" + name + "-in.wav";
    out_path = folder + "/" + name + "-out.wav";
    testing::WriteWav(in_path, MakeTone(frequency, kToneLevel, 10.0, rate), rate);
    engine.SetAudioDevices(std::make_unique<WavFileInput>(in_path),
                           std::make_unique<WavFileOutput>(out_path));
    EXPECT_EQ(engine.VE_Init(), 0);
    engine.VE_SetECStatus(0);
    engine.VE_SetAGCStatus(0);
    engine.VE_SetNRpolicy(-1);
    channel = engine.VE_CreateChannel();
    EXPECT_GE(channel, 0);
  }
  void Use(const char* codec_name) {
    for (int i = 0; i < engine.VE_GetNofCodecs(); ++i) {
      CodecInfo codec;
      engine.VE_GetCodec(i, &codec);
      if (std::string(codec.name) == codec_name) {
        ASSERT_EQ(engine.VE_SetSendCodec(channel, codec), 0);
      }
    }
  }
  void Start() {
    engine.VE_StartPlayout(channel);
    engine.VE_StartSend(channel);
  }
  std::vector<int16_t> Heard() {
    engine.VE_Terminate();  // closes the recording
    return ReadWav(out_path);
  }

  VoiceEngine engine{VoiceEngine::Clock::kManual};
  int channel = -1;
  std::string in_path, out_path;
};

// Two sides joined by in-memory pipes, run frame by frame on one virtual clock.
struct Call {
  explicit Call(const std::string& name, const char* codec = "PCMU")
      : folder(testing::TempFolder(name)), a(folder, "a", 440), b(folder, "b", 1000),
        a_to_b(&b.engine, b.channel), b_to_a(&a.engine, a.channel) {
    a.engine.VE_SetSendTransport(a.channel, &a_to_b);
    b.engine.VE_SetSendTransport(b.channel, &b_to_a);
    a.Use(codec);
    b.Use(codec);
  }
  void Run(int frames) {
    for (int i = 0; i < frames; ++i) {
      a.engine.RunFrames(1);
      b.engine.RunFrames(1);
      a_to_b.Deliver(b.engine.NowMs());
      b_to_a.Deliver(a.engine.NowMs());
    }
  }
  std::string folder;
  Side a, b;
  testing::PacketPipe a_to_b, b_to_a;
};

double Level(const std::vector<int16_t>& heard, double from_s, double to_s, double frequency) {
  const auto begin = static_cast<size_t>(from_s * kEngineRate);
  const auto count = static_cast<size_t>((to_s - from_s) * kEngineRate);
  return ToneAmplitude(heard, begin, count, frequency, kEngineRate);
}

TEST(VoiceEngine, OffersCodecsAndRefusesBadCalls) {
  VoiceEngine engine(VoiceEngine::Clock::kManual);
  EXPECT_EQ(engine.VE_CreateChannel(), -1);
  EXPECT_EQ(engine.VE_GetLastError(), kVeNotInitialized);
  ASSERT_EQ(engine.VE_Init(), 0);
  char version[1024];
  EXPECT_GT(engine.VE_GetVersion(version, sizeof version), 0);
  EXPECT_NE(std::string(version).find("opus"), std::string::npos);
  const int channel = engine.VE_CreateChannel();
  CodecInfo cn;
  engine.VE_GetCodec(4, &cn);
  EXPECT_STREQ(cn.name, "CN");
  EXPECT_EQ(engine.VE_SetSendCodec(channel, cn), -1);
  EXPECT_EQ(engine.VE_GetLastError(), kVeBadCodec);
  EXPECT_EQ(engine.VE_StartSend(channel + 7), -1);
  EXPECT_EQ(engine.VE_GetLastError(), kVeBadChannel);
  EXPECT_EQ(engine.VE_GetCodec(99, &cn), -1);
  EXPECT_EQ(engine.VE_DeleteChannel(channel), 0);
  EXPECT_EQ(engine.VE_DeleteChannel(channel), -1);
}

// Each side hears the other's tone, at its level, and not its own, with every codec.
TEST(VoiceEngine, TonesCrossBothWaysWithEveryCodec) {
  // Speex, built for speech, renders a pure tone with a wandering level; the others are exact.
  const struct {
    const char* codec;
    double level_tolerance, other_tone;
  } cases[] = {{"PCMU", 0.2, 0.02}, {"PCMA", 0.2, 0.02}, {"speex", 0.7, 0.06}, {"opus", 0.2, 0.02}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codec);
    Call call(std::string("both-") + c.codec, c.codec);
    call.a.Start();
    call.b.Start();
    call.Run(300);
    EXPECT_GE(call.a.engine.VE_GetOutputLevel(call.a.channel), 6);
    EXPECT_GE(call.a.engine.VE_GetInputLevel(), 7);
    auto heard_by_a = call.a.Heard();
    auto heard_by_b = call.b.Heard();
    ASSERT_GE(heard_by_a.size(), 2u * kEngineRate);
    EXPECT_NEAR(Level(heard_by_b, 1.0, 3.0, 440), kToneLevel, kToneLevel * c.level_tolerance);
    EXPECT_NEAR(Level(heard_by_a, 1.0, 3.0, 1000), kToneLevel, kToneLevel * c.level_tolerance);
    EXPECT_LT(Level(heard_by_b, 1.0, 3.0, 1000), kToneLevel * c.other_tone);
    EXPECT_LT(Level(heard_by_a, 1.0, 3.0, 440), kToneLevel * c.other_tone);
  }
}

// Muting stops what the other side hears while keeping what we hear; hold stops both.
TEST(VoiceEngine, MuteAndHoldChangeWhatIsHeard) {
  Call call("mute-hold");
  call.a.Start();
  call.b.Start();
  call.Run(100);                                    // 0-1 s: talking
  call.a.engine.VE_StopSend(call.a.channel);        // a mutes
  call.Run(100);                                    // 1-2 s
  call.a.engine.VE_StartSend(call.a.channel);       // a unmutes
  call.Run(100);                                    // 2-3 s
  call.a.engine.VE_StopSend(call.a.channel);        // a holds
  call.a.engine.VE_StopPlayout(call.a.channel);
  call.Run(100);                                    // 3-4 s
  call.a.Start();                                   // a resumes
  call.Run(100);                                    // 4-5 s
  auto heard_by_a = call.a.Heard();
  auto heard_by_b = call.b.Heard();
  const struct {
    double from, to;
    bool b_hears_a, a_hears_b;
  } spans[] = {{0.5, 1.0, true, true},
               {1.2, 2.0, false, true},
               {2.3, 3.0, true, true},
               {3.2, 4.0, false, false},
               {4.3, 5.0, true, true}};
  for (const auto& span : spans) {
    SCOPED_TRACE(span.from);
    const double b_hears = Level(heard_by_b, span.from, span.to, 440);
    const double a_hears = Level(heard_by_a, span.from, span.to, 1000);
    EXPECT_EQ(b_hears > kToneLevel * 0.5, span.b_hears_a) << b_hears;
    EXPECT_EQ(a_hears > kToneLevel * 0.5, span.a_hears_b) << a_hears;
    EXPECT_TRUE(b_hears > kToneLevel * 0.5 || b_hears < kToneLevel * 0.05) << b_hears;
  }
}

// Loss and jitter: the tone has no hole longer than one concealment run, and the delay the
// jitter buffer adds stays bounded.
TEST(VoiceEngine, LossAndJitterLeaveNoLongGapAndBoundedDelay) {
  for (const char* codec : {"opus", "PCMU"}) {
    SCOPED_TRACE(codec);
    Call call(std::string("loss-") + codec, codec);
    call.a_to_b.SetImpairment(0.05, 30);
    call.a.Start();
    call.b.Start();
    int max_delay = 0;
    for (int second = 0; second < 8; ++second) {
      call.Run(100);
      ChannelStats stats;
      call.b.engine.VE_GetChannelStats(call.b.channel, &stats);
      if (second > 0) max_delay = std::max(max_delay, stats.receive.delay_ms);
    }
    ChannelStats stats;
    call.b.engine.VE_GetChannelStats(call.b.channel, &stats);
    EXPECT_GT(stats.receive.concealed_frames + stats.receive.recovered_frames, 5u);
    // The buffer grows to the jitter it meets: few packets come too late to be played.
    EXPECT_LT(stats.receive.late, stats.receive.packets / 25);
    if (std::string(codec) == "opus") {
      EXPECT_GT(stats.receive.recovered_frames, 0u);  // in-band FEC at work
    }
    EXPECT_LE(max_delay, 150);
    auto heard = call.b.Heard();
    // 10 ms windows from 1 s on: a hole is a run of windows without the tone.
    int run = 0, longest = 0;
    for (double t = 1.0; t + 0.01 <= 8.0; t += 0.01) {
      run = Level(heard, t, t + 0.01, 440) < kToneLevel * 0.1 ? run + 1 : 0;
      longest = std::max(longest, run);
    }
    EXPECT_LE(longest * 10, 60) << "longest gap in ms";
  }
}

// A stall followed by a burst (three seconds of packets at once) is cut to the buffer's second,
// and playout works the delay back down to its target instead of staying behind.
TEST(VoiceEngine, BurstIsBoundedAndTheDelayRecovers) {
  Call call("burst");
  call.a.Start();
  call.b.Start();
  call.Run(100);
  for (int i = 0; i < 300; ++i) {  // the path to b stalls
    call.a.engine.RunFrames(1);
    call.b.engine.RunFrames(1);
  }
  call.a_to_b.Deliver(call.b.engine.NowMs());
  ChannelStats stats;
  call.b.engine.VE_GetChannelStats(call.b.channel, &stats);
  EXPECT_GT(stats.receive.overflow, 90u);
  EXPECT_LE(stats.receive.delay_ms, 1100);
  call.Run(100);
  call.b.engine.VE_GetChannelStats(call.b.channel, &stats);
  EXPECT_LE(stats.receive.delay_ms, stats.receive.target_delay_ms + 60);
  auto heard = call.b.Heard();
  EXPECT_NEAR(Level(heard, 4.5, 5.0, 440), kToneLevel, kToneLevel * 0.2);
}

// Silence goes out as comfort noise when the detector is on, and speech resumes after it.
TEST(VoiceEngine, SilenceTravelsAsComfortNoise) {
  const std::string folder = testing::TempFolder("dtx");
  Side a(folder, "a", 440), b(folder, "b", 1000);
  std::vector<int16_t> talk = MakeTone(440, kToneLevel, 1.0, 8000);
  talk.resize(3 * 8000);  // then two seconds of silence
  testing::WriteWav(a.in_path, talk, 8000);
  a.engine.SetAudioDevices(std::make_unique<WavFileInput>(a.in_path), nullptr);
  testing::PacketPipe a_to_b(&b.engine, b.channel);
  a.engine.VE_SetSendTransport(a.channel, &a_to_b);
  a.engine.VE_SetVADStatus(a.channel, 1, 0, 0);
  a.Start();
  b.Start();
  for (int i = 0; i < 300; ++i) {
    a.engine.RunFrames(1);
    b.engine.RunFrames(1);
    a_to_b.Deliver(b.engine.NowMs());
  }
  ChannelStats stats;
  a.engine.VE_GetChannelStats(a.channel, &stats);
  EXPECT_GT(stats.comfort_noise_sent, 3u);
  // 2 s of silence as 20 ms frames would be 100 packets.
  EXPECT_LT(stats.packets_sent, 50u + 60u);
  auto heard = b.Heard();
  EXPECT_GT(Level(heard, 0.3, 0.9, 440), kToneLevel * 0.5);
  EXPECT_LT(Level(heard, 2.0, 3.0, 440), kToneLevel * 0.05);
}

// Garbage and oversized datagrams on a live channel are dropped and counted; the call goes on.
TEST(VoiceEngine, MalformedPacketsAreCountedNotPlayed) {
  Call call("malformed");
  call.a.Start();
  call.b.Start();
  call.Run(50);
  std::vector<uint8_t> big(4000, 0x80);
  const uint8_t stun[] = {0x00, 0x01, 0x00, 0x00, 0x21, 0x12, 0xA4, 0x42, 1, 2, 3, 4, 5, 6};
  call.b.engine.VE_ReceivedRTPPacket(call.b.channel, big.data(), static_cast<int>(big.size()));
  call.b.engine.VE_ReceivedRTPPacket(call.b.channel, stun, sizeof stun);
  call.b.engine.VE_ReceivedRTPPacket(call.b.channel, stun, 3);
  call.Run(150);
  ChannelStats stats;
  call.b.engine.VE_GetChannelStats(call.b.channel, &stats);
  EXPECT_EQ(stats.malformed, 3u);
  auto heard = call.b.Heard();
  EXPECT_NEAR(Level(heard, 1.0, 2.0, 440), kToneLevel, kToneLevel * 0.2);
}

// The same call over a real UDP socket pair on 127.0.0.1.
class UdpTransport : public VoiceTransport {
 public:
  UdpTransport() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address_;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address_), &length);
  }
  ~UdpTransport() override { close(fd_); }
  void ConnectTo(const UdpTransport& other) { peer_ = other.address_; }
  int SendPacket(int, const void* data, size_t size) override {
    return static_cast<int>(sendto(fd_, data, size, 0, reinterpret_cast<const sockaddr*>(&peer_),
                                   sizeof peer_));
  }
  int SendRtcpPacket(int, const void*, size_t) override { return 0; }
  void Receive(VoiceEngine* engine, int channel) {
    uint8_t buffer[2048];
    ssize_t got;
    while ((got = recv(fd_, buffer, sizeof buffer, 0)) >= 0) {
      engine->VE_ReceivedRTPPacket(channel, buffer, static_cast<int>(got));
    }
  }

 private:
  int fd_;
  sockaddr_in address_{};
  sockaddr_in peer_{};
};

TEST(VoiceEngine, TonesCrossOverUdpLoopback) {
  const std::string folder = testing::TempFolder("udp");
  Side a(folder, "a", 440), b(folder, "b", 1000);
  UdpTransport a_socket, b_socket;
  a_socket.ConnectTo(b_socket);
  b_socket.ConnectTo(a_socket);
  a.engine.VE_SetSendTransport(a.channel, &a_socket);
  b.engine.VE_SetSendTransport(b.channel, &b_socket);
  a.Use("opus");
  b.Use("opus");
  a.Start();
  b.Start();
  for (int i = 0; i < 200; ++i) {
    a.engine.RunFrames(1);
    b.engine.RunFrames(1);
    // Loopback delivery is immediate once sendto returns.
    b_socket.Receive(&b.engine, b.channel);
    a_socket.Receive(&a.engine, a.channel);
  }
  auto heard_by_a = a.Heard();
  auto heard_by_b = b.Heard();
  EXPECT_NEAR(Level(heard_by_b, 0.5, 2.0, 440), kToneLevel, kToneLevel * 0.2);
  EXPECT_NEAR(Level(heard_by_a, 0.5, 2.0, 1000), kToneLevel, kToneLevel * 0.2);
}

}  // namespace
}  // namespace vexalo
