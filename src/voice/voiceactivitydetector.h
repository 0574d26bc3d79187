#pragma once

#include <cstddef>
#include <cstdint>

namespace vexalo {

// Tells speech from background by energy against a tracked noise floor: the floor follows
// quiet frames at once and rises only slowly (about 4 dB a second), and speech keeps the verdict
// for 200 ms after it ends so word endings are not cut off.
class VoiceActivityDetector {
 public:
  bool Process(const int16_t* frame, size_t samples);

 private:
  double floor_ = 1e-6;  // mean square relative to full scale, starts at -60 dBFS
  int hangover_ = 0;
};

}  // namespace vexalo
