#include "voice/voiceactivitydetector.h"

#include <algorithm>

namespace vexalo {
namespace {

constexpr double kSpeechOverFloor = 10.0;  // 10 dB
constexpr double kQuietest = 3e-6;         // about -55 dBFS: below this nothing is speech
constexpr double kFloorRise = 1.01;        // per 10 ms frame
constexpr int kHangoverFrames = 20;

}  // namespace

bool VoiceActivityDetector::Process(const int16_t* frame, size_t samples) {
  double energy = 0;
  for (size_t i = 0; i < samples; ++i) {
    const double x = frame[i] / 32768.0;
    energy += x * x;
  }
  energy /= static_cast<double>(std::max<size_t>(samples, 1));
  floor_ = std::max(std::min(energy, floor_ * kFloorRise), 1e-9);
  if (energy > kQuietest && energy > floor_ * kSpeechOverFloor) {
    hangover_ = kHangoverFrames;
    return true;
  }
  if (hangover_ > 0) {
    --hangover_;
    return true;
  }
  return false;
}

}  // namespace vexalo
