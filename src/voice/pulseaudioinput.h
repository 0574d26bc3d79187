#pragma once

#include <string>

#include "voice/audiodevice.h"

struct pa_simple;

namespace vexalo {

// Capture from a PulseAudio source (also served by PipeWire's Pulse server) at the engine's
// format; an empty name is the server's default source. Blocks until each frame is captured.
class PulseAudioInput : public AudioInput {
 public:
  explicit PulseAudioInput(std::string source) : source_(std::move(source)) {}
  ~PulseAudioInput() override;

  bool Open() override;
  void Close() override;
  void Read(int16_t* frame) override;
  bool Paced() const override { return stream_ != nullptr; }

 private:
  std::string source_;
  pa_simple* stream_ = nullptr;
};

}  // namespace vexalo
