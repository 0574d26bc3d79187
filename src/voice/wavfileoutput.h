#pragma once

#include <string>

#include "voice/audiodevice.h"

typedef struct sf_private_tag SNDFILE;

namespace vexalo {

// Records what would be played into a 16-bit mono WAV file at the engine rate.
class WavFileOutput : public AudioOutput {
 public:
  explicit WavFileOutput(std::string path) : path_(std::move(path)) {}
  ~WavFileOutput() override;

  bool Open() override;
  void Close() override;
  void Write(const int16_t* frame) override;

 private:
  std::string path_;
  SNDFILE* file_ = nullptr;
};

}  // namespace vexalo
