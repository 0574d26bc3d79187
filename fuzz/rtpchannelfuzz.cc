// Feeds arbitrary datagrams into a live voice channel that is playing out, running one frame
// after each. The input is a series of packets, each behind a two-byte big-endian length.
// Whatever arrives, the engine must neither crash nor hold more than its bounded buffer.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "voice/nullaudiodevice.h"
#include "voice/voiceengine.h"

namespace {

using namespace vexalo;

struct Fixture {
  Fixture() {
    engine.SetAudioDevices(std::make_unique<NullAudioDevice>(), std::make_unique<NullAudioDevice>());
    engine.VE_Init();
    channel = engine.VE_CreateChannel();
    engine.VE_StartPlayout(channel);
  }
  VoiceEngine engine{VoiceEngine::Clock::kManual};
  int channel = -1;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* fixture = new Fixture;
  // A fresh channel per input, so that one input's state does not hide another's fault.
  VoiceEngine& engine = fixture->engine;
  engine.VE_DeleteChannel(fixture->channel);
  fixture->channel = engine.VE_CreateChannel();
  engine.VE_StartPlayout(fixture->channel);
  while (size >= 2) {
    const size_t length = std::min<size_t>(static_cast<size_t>(data[0] << 8 | data[1]), size - 2);
    engine.VE_ReceivedRTPPacket(fixture->channel, data + 2, static_cast<int>(length));
    engine.RunFrames(1);
    data += 2 + length;
    size -= 2 + length;
  }
  ChannelStats stats;
  engine.VE_GetChannelStats(fixture->channel, &stats);
  // The jitter buffer holds at most a second; anything more would mean it grew unbounded.
  if (stats.receive.delay_ms > 1500) std::abort();
  return 0;
}
