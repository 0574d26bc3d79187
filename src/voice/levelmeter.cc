#include "voice/levelmeter.h"

#include <cstdlib>

namespace vexalo {

void LevelMeter::Update(const int16_t* frame, size_t samples) {
  for (size_t i = 0; i < samples; ++i) {
    const int magnitude = std::abs(static_cast<int>(frame[i]));
    if (magnitude > peak_) peak_ = magnitude;
  }
  if (++frames_ < 10) return;
  // Step k holds peaks down to 6 dB * (9 - k) below full scale.
  int level = 0;
  for (int threshold = 32768 >> 9; level < 9 && peak_ >= threshold; threshold <<= 1) ++level;
  level_.store(level, std::memory_order_relaxed);
  peak_ = 0;
  frames_ = 0;
}

void LevelMeter::Reset() {
  peak_ = 0;
  frames_ = 0;
  level_.store(0, std::memory_order_relaxed);
}

}  // namespace vexalo
