#pragma once

#include <string>

#include "voice/audiodevice.h"

struct pa_simple;

namespace vexalo {

// Playout to a PulseAudio sink with about 40 ms of buffer; an empty name is the default sink.
class PulseAudioOutput : public AudioOutput {
 public:
  explicit PulseAudioOutput(std::string sink) : sink_(std::move(sink)) {}
  ~PulseAudioOutput() override;

  bool Open() override;
  void Close() override;
  void Write(const int16_t* frame) override;

 private:
  std::string sink_;
  pa_simple* stream_ = nullptr;
};

}  // namespace vexalo
