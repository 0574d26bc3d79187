#include "voice/wavfileoutput.h"

#include <sndfile.h>

#include "base/runtime/logging.h"
#include "voice/audioformat.h"

namespace vexalo {

WavFileOutput::~WavFileOutput() { Close(); }

bool WavFileOutput::Open() {
  if (file_) return true;  // reopening would cut what a paused call already recorded
  SF_INFO info{};
  info.samplerate = kEngineRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  file_ = sf_open(path_.c_str(), SFM_WRITE, &info);
  if (!file_) {
    LOG(kWarning) << "Cannot write sound file " << path_ << ": " << sf_strerror(nullptr);
    return false;
  }
  return true;
}

void WavFileOutput::Close() {
  if (file_) sf_close(file_);
  file_ = nullptr;
}

void WavFileOutput::Write(const int16_t* frame) {
  if (file_) sf_writef_short(file_, frame, static_cast<sf_count_t>(kFrameSamples));
}

}  // namespace vexalo
