#pragma once

#include <cstddef>
#include <cstdint>

namespace vexalo {

// A capture device giving engine frames (mono, 16-bit, engine rate). Used on the audio thread.
class AudioInput {
 public:
  virtual ~AudioInput() = default;
  virtual bool Open() = 0;
  virtual void Close() = 0;
  // Fills kFrameSamples samples; silence when the device has nothing (end of a file).
  virtual void Read(int16_t* frame) = 0;
  // A paced device blocks in Read until the frame is due, so the audio thread need not sleep.
  virtual bool Paced() const { return false; }
};

// A playout device taking engine frames. Used on the audio thread.
class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  virtual bool Open() = 0;
  virtual void Close() = 0;
  virtual void Write(const int16_t* frame) = 0;
};

}  // namespace vexalo
