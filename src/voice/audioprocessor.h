#pragma once

#include <cstdint>

#include "voice/voiceactivitydetector.h"

struct SpeexEchoState_;
struct SpeexPreprocessState_;

namespace vexalo {

// The capture side's clean-up on 10 ms engine frames: echo cancellation against what was
// played (speexdsp, 200 ms tail), then gain control, noise suppression and voice activity
// detection (speexdsp preprocessor, which also removes the residual echo; our own detector,
// as the preprocessor's is only a placeholder).
class AudioProcessor {
 public:
  AudioProcessor();
  ~AudioProcessor();
  AudioProcessor(const AudioProcessor&) = delete;
  AudioProcessor& operator=(const AudioProcessor&) = delete;

  void SetEchoCancellation(bool on);
  void SetGainControl(bool on);
  // Suppression in dB below the signal (negative), or 0 for none.
  void SetNoiseSuppression(int suppress_db);
  void SetVoiceDetection(bool on);

  // Cleans `capture` in place given the frame played at the same time; true when it holds speech
  // (always true while detection is off).
  bool Process(int16_t* capture, const int16_t* played);

 private:
  void Configure();

  SpeexEchoState_* echo_;
  SpeexPreprocessState_* preprocess_;
  bool echo_on_ = true;
  bool agc_on_ = true;
  int noise_db_ = -15;
  bool vad_on_ = false;
  VoiceActivityDetector detector_;
};

}  // namespace vexalo
