#include "voice/audioprocessor.h"

#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>

#include <algorithm>

#include "voice/audioformat.h"

namespace vexalo {
namespace {

constexpr int kTailMs = 200;

}  // namespace

AudioProcessor::AudioProcessor()
    : echo_(speex_echo_state_init(static_cast<int>(kFrameSamples), kEngineRate * kTailMs / 1000)),
      preprocess_(speex_preprocess_state_init(static_cast<int>(kFrameSamples), kEngineRate)) {
  int rate = kEngineRate;
  speex_echo_ctl(echo_, SPEEX_ECHO_SET_SAMPLING_RATE, &rate);
  Configure();
}

AudioProcessor::~AudioProcessor() {
  speex_preprocess_state_destroy(preprocess_);
  speex_echo_state_destroy(echo_);
}

void AudioProcessor::SetEchoCancellation(bool on) {
  if (on && !echo_on_) speex_echo_state_reset(echo_);
  echo_on_ = on;
  Configure();
}

void AudioProcessor::SetGainControl(bool on) {
  agc_on_ = on;
  Configure();
}

void AudioProcessor::SetNoiseSuppression(int suppress_db) {
  noise_db_ = std::min(suppress_db, 0);
  Configure();
}

void AudioProcessor::SetVoiceDetection(bool on) {
  vad_on_ = on;
  Configure();
}

void AudioProcessor::Configure() {
  int denoise = noise_db_ < 0;
  speex_preprocess_ctl(preprocess_, SPEEX_PREPROCESS_SET_DENOISE, &denoise);
  if (denoise) speex_preprocess_ctl(preprocess_, SPEEX_PREPROCESS_SET_NOISE_SUPPRESS, &noise_db_);
  int agc = agc_on_;
  speex_preprocess_ctl(preprocess_, SPEEX_PREPROCESS_SET_AGC, &agc);
  speex_preprocess_ctl(preprocess_, SPEEX_PREPROCESS_SET_ECHO_STATE, echo_on_ ? echo_ : nullptr);
}

bool AudioProcessor::Process(int16_t* capture, const int16_t* played) {
  if (echo_on_) {
    int16_t cleaned[kFrameSamples];
    speex_echo_cancellation(echo_, capture, played, cleaned);
    std::copy_n(cleaned, kFrameSamples, capture);
  }
  if (agc_on_ || noise_db_ < 0 || echo_on_) speex_preprocess_run(preprocess_, capture);
  return !vad_on_ || detector_.Process(capture, kFrameSamples);
}

}  // namespace vexalo
