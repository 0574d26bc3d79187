#pragma once

#include "voice/audiodevice.h"

namespace vexalo {

// Silence in, nothing out: a call without sound hardware still runs its channels.
class NullAudioDevice : public AudioInput, public AudioOutput {
 public:
  bool Open() override { return true; }
  void Close() override {}
  void Read(int16_t* frame) override;
  void Write(const int16_t* /*frame*/) override {}
};

}  // namespace vexalo
