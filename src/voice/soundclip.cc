#include "voice/soundclip.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <numbers>

#include "voice/audioformat.h"

namespace vexalo {

namespace {

struct Tone {
  double first_hz;
  double second_hz;  // 0: a single tone
  int ms;            // a tone of frequency 0 is a gap
};

// Tones one after another, each with 5 ms ramps so nothing clicks; then silence to fill
// `total_ms`, so each clip has its exact length.
std::vector<int16_t> Render(std::initializer_list<Tone> tones, int total_ms) {
  std::vector<int16_t> out(static_cast<size_t>(kEngineRate) * total_ms / 1000, 0);
  size_t at = 0;
  const double ramp = kEngineRate * 0.005;
  for (const Tone& tone : tones) {
    const size_t count = static_cast<size_t>(kEngineRate) * tone.ms / 1000;
    for (size_t i = 0; i < count && at + i < out.size(); ++i) {
      if (tone.first_hz == 0) continue;
      const double t = static_cast<double>(i) / kEngineRate;
      const double edge = std::min({1.0, static_cast<double>(i) / ramp, static_cast<double>(count - i) / ramp});
      double value = std::sin(2 * std::numbers::pi * tone.first_hz * t);
      if (tone.second_hz != 0) value = (value + std::sin(2 * std::numbers::pi * tone.second_hz * t)) / 2;
      out[at + i] = static_cast<int16_t>(8000 * edge * value);
    }
    at += count;
  }
  return out;
}

}  // namespace

SoundClip SoundClip::For(int sound) {
  switch (sound) {
    case kSoundIncomingRing:  // 1.785 s: a warbling double ring
      return {Render({{950, 1400, 400}, {0, 0, 200}, {950, 1400, 400}, {0, 0, 200}, {950, 1400, 400}},
                     1785),
              800, true};
    case kSoundRingBack:  // 2.12 s: the ring-back a caller hears
      return {Render({{440, 480, 2000}}, 2120), 4000, true};
    case kSoundCallWaiting:  // 0.5 s: two short beeps
      return {Render({{440, 0, 200}, {0, 0, 100}, {440, 0, 200}}, 500), 9620, true};
    case kSoundChatMessage:  // 0.516 s: a falling two-note ding, once
      return {Render({{1318.5, 0, 150}, {987.8, 0, 366}}, 516), 0, false};
    default:
      return {};
  }
}

}  // namespace vexalo
