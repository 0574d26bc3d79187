#include "voice/comfortnoise.h"

#include <algorithm>
#include <cmath>

namespace vexalo {

uint8_t ComfortNoise::LevelOf(const int16_t* pcm, size_t samples) {
  double power = 0;
  for (size_t i = 0; i < samples; ++i) power += static_cast<double>(pcm[i]) * pcm[i];
  if (samples == 0 || power == 0) return 127;
  const double dbov = 10.0 * std::log10(power / samples / (32767.0 * 32767.0));
  return static_cast<uint8_t>(std::clamp(-dbov, 0.0, 127.0));
}

void ComfortNoise::Generate(uint8_t level, int16_t* out, size_t samples) {
  const double rms = 32767.0 * std::pow(10.0, -std::min<int>(level, 127) / 20.0);
  // Uniform noise in [-a, a] has an rms of a / sqrt(3).
  const double amplitude = std::min(rms * std::sqrt(3.0), 32767.0);
  for (size_t i = 0; i < samples; ++i) {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    const double unit = static_cast<double>(state_) / 4294967295.0 * 2.0 - 1.0;
    out[i] = static_cast<int16_t>(unit * amplitude);
  }
}

}  // namespace vexalo
