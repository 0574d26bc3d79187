#include "voice/wavfileinput.h"

#include <sndfile.h>

#include <algorithm>

#include "base/runtime/logging.h"
#include "voice/audioformat.h"

namespace vexalo {

WavFileInput::WavFileInput(std::string path, bool loop) : path_(std::move(path)), loop_(loop) {}

WavFileInput::~WavFileInput() { Close(); }

bool WavFileInput::Open() {
  Close();
  SF_INFO info{};
  file_ = sf_open(path_.c_str(), SFM_READ, &info);
  if (!file_) {
    LOG(kWarning) << "Cannot read sound file " << path_ << ": " << sf_strerror(nullptr);
    return false;
  }
  // A file of absurd shape is refused rather than trusted for buffer sizes.
  if (info.channels < 1 || info.channels > 8 || info.samplerate < 4000 || info.samplerate > 192000) {
    LOG(kWarning) << "Unsupported sound file " << path_;
    Close();
    return false;
  }
  channels_ = info.channels;
  resampler_ = std::make_unique<Resampler>(info.samplerate, kEngineRate);
  pending_.clear();
  return true;
}

void WavFileInput::Close() {
  if (file_) sf_close(file_);
  file_ = nullptr;
}

bool WavFileInput::ReadBlock() {
  std::vector<int16_t> block(static_cast<size_t>(480 * channels_));
  sf_count_t frames = sf_readf_short(file_, block.data(), 480);
  if (frames <= 0 && loop_) {
    sf_seek(file_, 0, SEEK_SET);
    frames = sf_readf_short(file_, block.data(), 480);
  }
  if (frames <= 0) return false;
  std::vector<int16_t> mono(static_cast<size_t>(frames));
  for (sf_count_t i = 0; i < frames; ++i) {
    int sum = 0;
    for (int c = 0; c < channels_; ++c) sum += block[static_cast<size_t>(i * channels_ + c)];
    mono[static_cast<size_t>(i)] = static_cast<int16_t>(sum / channels_);
  }
  resampler_->Process(mono.data(), mono.size(), pending_);
  return true;
}

void WavFileInput::Read(int16_t* frame) {
  while (file_ && pending_.size() < kFrameSamples && ReadBlock()) {
  }
  const size_t have = std::min(pending_.size(), kFrameSamples);
  std::copy_n(pending_.begin(), have, frame);
  std::fill(frame + have, frame + kFrameSamples, int16_t{0});
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(have));
}

}  // namespace vexalo
