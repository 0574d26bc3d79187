#include "voice/soundloop.h"

#include <algorithm>

#include "voice/audioformat.h"

namespace vexalo {

void SoundLoop::Request(int sound) {
  if (sound == sound_) return;
  if (sound == kSoundChatMessage && sound_ != kSoundNone) return;
  sound_ = sound;
  clip_ = SoundClip::For(sound);
  position_ = 0;
  if (clip_.samples.empty()) sound_ = kSoundNone;
}

void SoundLoop::Fill(int16_t* frame) {
  std::fill(frame, frame + kFrameSamples, int16_t{0});
  if (sound_ == kSoundNone) return;
  const size_t clip = clip_.samples.size();
  const size_t period = clip + static_cast<size_t>(kEngineRate) * clip_.pause_ms / 1000;
  for (size_t i = 0; i < kFrameSamples; ++i) {
    if (position_ < clip) frame[i] = clip_.samples[position_];
    if (++position_ < period) continue;
    if (!clip_.repeats) {
      sound_ = kSoundNone;
      return;
    }
    position_ = 0;
  }
}

}  // namespace vexalo
