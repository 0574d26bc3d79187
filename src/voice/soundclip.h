#pragma once

#include <cstdint>
#include <vector>

namespace vexalo {

// The sounds the main window plays, by their numbers.
enum CallSound : int {
  kSoundNone = 0,
  kSoundIncomingRing = 1,
  kSoundRingBack = 2,
  kSoundCallWaiting = 4,
  kSoundChatMessage = 5,
};

// One sound: its clip (mono, 16-bit, engine rate) and the pause before it repeats.
struct SoundClip {
  std::vector<int16_t> samples;
  int pause_ms = 0;
  bool repeats = false;

  // The generated tones for a sound; an empty clip for kSoundNone and unknown numbers.
  static SoundClip For(int sound);
};

}  // namespace vexalo
