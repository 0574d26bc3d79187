// The real device path: a PulseAudio server started by tests/scripts/with-pulseaudio.sh with
// null sinks "mouth" and "ear". Skipped when run without that server.
#include <gtest/gtest.h>
#include <pulse/simple.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "support/voice/directtransport.h"
#include "voice/audioformat.h"
#include "voice/pulsedevicelist.h"
#include "support/voice/toneanalysis.h"
#include "voice/voiceengine.h"
#include "voice/wavfileinput.h"
#include "voice/wavfileoutput.h"

namespace vexalo {
namespace {

constexpr double kToneLevel = 8000;

int IndexOf(const std::vector<SoundDevice>& devices, const std::string& name) {
  for (size_t i = 0; i < devices.size(); ++i) {
    if (devices[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

pa_simple* OpenStream(pa_stream_direction_t direction, const char* device) {
  const pa_sample_spec spec{PA_SAMPLE_S16LE, kEngineRate, 1};
  return pa_simple_new(nullptr, "vexalo-test", direction, device, "test", &spec, nullptr, nullptr,
                       nullptr);
}

// A speaks through PulseAudio (captures "mouth.monitor", plays to "ear"); B uses files. A tone
// played into "mouth" reaches B's recording, and B's tone comes out of "ear".
TEST(PeerPulseAudio, TonesCrossThroughTheSoundServer) {
  if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "needs tests/scripts/with-pulseaudio.sh";
  PulseDeviceList devices;
  ASSERT_TRUE(devices.Load());
  const int mouth_monitor = IndexOf(devices.inputs(), "mouth.monitor");
  const int ear = IndexOf(devices.outputs(), "ear");
  ASSERT_GE(mouth_monitor, 0);
  ASSERT_GE(ear, 0);

  const std::string folder = testing::TempFolder("pulse");
  testing::WriteWav(folder + "/b-in.wav", testing::MakeTone(1000, kToneLevel, 10, 8000), 8000);
  VoiceEngine a, b;
  ASSERT_EQ(a.VE_Init(), 0);
  ASSERT_EQ(b.VE_Init(), 0);
  EXPECT_GE(a.VE_GetNofSoundDevices(1), 2);  // the two monitors
  char name[256];
  EXPECT_EQ(a.VE_GetSoundDeviceName(0, ear, name, sizeof name), 0);
  EXPECT_EQ(a.VE_SetSoundDevices(99, ear), -1);
  EXPECT_EQ(a.VE_GetLastError(), kVeNoSoundDevice);
  ASSERT_EQ(a.VE_SetSoundDevices(mouth_monitor, ear), 0);
  b.SetAudioDevices(std::make_unique<WavFileInput>(folder + "/b-in.wav"),
                    std::make_unique<WavFileOutput>(folder + "/b-out.wav"));
  for (VoiceEngine* engine : {&a, &b}) {
    engine->VE_SetECStatus(0);
    engine->VE_SetAGCStatus(0);
    engine->VE_SetNRpolicy(-1);
  }
  const int a_channel = a.VE_CreateChannel();
  const int b_channel = b.VE_CreateChannel();
  testing::DirectTransport a_to_b(&b, b_channel), b_to_a(&a, a_channel);
  a.VE_SetSendTransport(a_channel, &a_to_b);
  b.VE_SetSendTransport(b_channel, &b_to_a);

  pa_simple* mouth = OpenStream(PA_STREAM_PLAYBACK, "mouth");
  pa_simple* ear_monitor = OpenStream(PA_STREAM_RECORD, "ear.monitor");
  ASSERT_TRUE(mouth && ear_monitor);
  for (VoiceEngine* engine : {&a, &b}) {
    const int channel = engine == &a ? a_channel : b_channel;
    engine->VE_StartPlayout(channel);
    engine->VE_StartSend(channel);
  }
  constexpr double kSeconds = 4.0;
  std::thread speaker([&] {
    auto tone = testing::MakeTone(440, kToneLevel, kSeconds, kEngineRate);
    pa_simple_write(mouth, tone.data(), tone.size() * sizeof(int16_t), nullptr);
    pa_simple_drain(mouth, nullptr);
  });
  std::vector<int16_t> heard(static_cast<size_t>(kSeconds * kEngineRate));
  pa_simple_read(ear_monitor, heard.data(), heard.size() * sizeof(int16_t), nullptr);
  speaker.join();
  int input_level = a.VE_GetInputLevel();
  a.VE_Terminate();
  b.VE_Terminate();
  pa_simple_free(mouth);
  pa_simple_free(ear_monitor);

  auto heard_by_b = testing::ReadWav(folder + "/b-out.wav");
  EXPECT_GE(input_level, 6);
  // The server delivers in bursts on a busy machine, so the odd window runs dry: the tone must
  // be there at its level for at least a second's worth of quarter-second windows.
  auto windows_with_tone = [](const std::vector<int16_t>& samples, double frequency) {
    int count = 0;
    for (size_t at = 0; at + 4000 <= samples.size(); at += 4000) {
      const double level = testing::ToneAmplitude(samples, at, 4000, frequency, kEngineRate);
      if (std::abs(level - kToneLevel) < kToneLevel * 0.3) ++count;
    }
    return count;
  };
  EXPECT_GE(windows_with_tone(heard_by_b, 440), 4);
  EXPECT_GE(windows_with_tone(heard, 1000), 4);
  EXPECT_EQ(windows_with_tone(heard_by_b, 1000), 0);
  EXPECT_EQ(windows_with_tone(heard, 440), 0);
}

}  // namespace
}  // namespace vexalo
