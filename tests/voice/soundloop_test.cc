#include "voice/soundloop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "voice/audioformat.h"

namespace vexalo {
namespace {

std::vector<int16_t> Take(SoundLoop& loop, size_t frames) {
  std::vector<int16_t> out(frames * kFrameSamples);
  for (size_t f = 0; f < frames; ++f) loop.Fill(out.data() + f * kFrameSamples);
  return out;
}

bool Silent(const std::vector<int16_t>& s, size_t begin, size_t end) {
  return std::all_of(s.begin() + static_cast<long>(begin), s.begin() + static_cast<long>(end),
                     [](int16_t v) { return v == 0; });
}

struct Timing {
  int sound;
  int clip_ms;
  int pause_ms;
};

// Each sound: its clip at once, exactly its length, then exactly its pause, then again.
TEST(SoundLoopTest, EachCallSoundRepeatsWithItsLengthAndPause) {
  for (const Timing& t : {Timing{kSoundIncomingRing, 1785, 800}, Timing{kSoundRingBack, 2120, 4000},
                          Timing{kSoundCallWaiting, 500, 9620}}) {
    SCOPED_TRACE(t.sound);
    const SoundClip clip = SoundClip::For(t.sound);
    ASSERT_EQ(clip.samples.size(), static_cast<size_t>(kEngineRate) * t.clip_ms / 1000);
    // The clip's last 10 ms may be its silent tail, but it sounds near its start and end.
    ASSERT_FALSE(Silent(clip.samples, 0, kFrameSamples));
    SoundLoop loop;
    loop.Request(t.sound);
    const size_t period = static_cast<size_t>(kEngineRate) * (t.clip_ms + t.pause_ms) / 1000;
    const std::vector<int16_t> out = Take(loop, 2 * period / kFrameSamples + 2);
    for (size_t start : {size_t{0}, period}) {
      EXPECT_TRUE(std::equal(clip.samples.begin(), clip.samples.end(),
                             out.begin() + static_cast<long>(start)));
      EXPECT_TRUE(Silent(out, start + clip.samples.size(), start + period));
    }
    EXPECT_EQ(out[2 * period], clip.samples[0]);
    EXPECT_EQ(loop.playing(), t.sound);
  }
}

TEST(SoundLoopTest, ChatSoundPlaysOnceAndNeverInterrupts) {
  SoundLoop loop;
  loop.Request(kSoundChatMessage);
  const std::vector<int16_t> out = Take(loop, 60);
  const size_t clip = static_cast<size_t>(kEngineRate) * 516 / 1000;
  EXPECT_FALSE(Silent(out, 0, kFrameSamples));
  EXPECT_TRUE(Silent(out, clip, out.size()));
  EXPECT_EQ(loop.playing(), kSoundNone);

  // While the ring plays the chat sound is dropped and the ring goes on where it was.
  loop.Request(kSoundIncomingRing);
  Take(loop, 5);
  loop.Request(kSoundChatMessage);
  EXPECT_EQ(loop.playing(), kSoundIncomingRing);
  const SoundClip ring = SoundClip::For(kSoundIncomingRing);
  std::vector<int16_t> next = Take(loop, 1);
  EXPECT_TRUE(std::equal(next.begin(), next.end(), ring.samples.begin() + 5 * kFrameSamples));
}

TEST(SoundLoopTest, SameRequestContinuesOtherRestartsNoneStops) {
  SoundLoop loop;
  loop.Request(kSoundRingBack);
  Take(loop, 3);
  loop.Request(kSoundRingBack);
  const SoundClip ringback = SoundClip::For(kSoundRingBack);
  std::vector<int16_t> next = Take(loop, 1);
  EXPECT_TRUE(std::equal(next.begin(), next.end(), ringback.samples.begin() + 3 * kFrameSamples));

  loop.Request(kSoundCallWaiting);
  const SoundClip waiting = SoundClip::For(kSoundCallWaiting);
  next = Take(loop, 1);
  EXPECT_TRUE(std::equal(next.begin(), next.end(), waiting.samples.begin()));

  loop.Request(kSoundNone);
  EXPECT_EQ(loop.playing(), kSoundNone);
  EXPECT_TRUE(Silent(Take(loop, 3), 0, 3 * kFrameSamples));
  loop.Request(3);  // no such sound
  EXPECT_EQ(loop.playing(), kSoundNone);
}

}  // namespace
}  // namespace vexalo
