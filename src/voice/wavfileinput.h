#pragma once

#include <memory>
#include <string>
#include <vector>

#include "voice/audiodevice.h"
#include "voice/resampler.h"

typedef struct sf_private_tag SNDFILE;

namespace vexalo {

// Plays a sound file (any format libsndfile reads) as the microphone: channels mixed down,
// converted to the engine rate; silence after its end, or from the start again when looping.
class WavFileInput : public AudioInput {
 public:
  explicit WavFileInput(std::string path, bool loop = false);
  ~WavFileInput() override;

  bool Open() override;
  void Close() override;
  void Read(int16_t* frame) override;

 private:
  bool ReadBlock();

  std::string path_;
  bool loop_;
  SNDFILE* file_ = nullptr;
  int channels_ = 1;
  std::unique_ptr<Resampler> resampler_;
  std::vector<int16_t> pending_;
};

}  // namespace vexalo
