#pragma once

#include <cstddef>
#include <cstdint>

namespace vexalo {

// Comfort noise of RFC 3389 with only the noise level (no spectral shape): the sender
// describes silence by one byte, the receiver plays white noise at that level.
class ComfortNoise {
 public:
  static constexpr uint8_t kPayloadType = 13;

  // The level byte: the frame's power in -dBov, 0 (full scale) to 127 (digital silence).
  static uint8_t LevelOf(const int16_t* pcm, size_t samples);
  // Fills `samples` of noise at `level`.
  void Generate(uint8_t level, int16_t* out, size_t samples);

 private:
  uint32_t state_ = 0x12345678;  // a cheap generator: the noise need not be unpredictable
};

}  // namespace vexalo
