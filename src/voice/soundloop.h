#pragma once

#include <cstddef>
#include <cstdint>

#include "voice/soundclip.h"

namespace vexalo {

// Plays at most one sound, frame by frame: its clip, then its pause, then again. Time is the
// frames taken, so the timing is the same on a device, in a file or in a test.
class SoundLoop {
 public:
  // The same sound again does nothing; another one stops the playing one first. The chat
  // sound is dropped while another sound plays.
  void Request(int sound);
  int playing() const { return sound_; }

  // Fills one engine frame; silence during pauses and when nothing plays.
  void Fill(int16_t* frame);

 private:
  int sound_ = kSoundNone;
  SoundClip clip_;
  size_t position_ = 0;  // samples into clip plus pause
};

}  // namespace vexalo
