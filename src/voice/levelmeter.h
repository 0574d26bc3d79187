#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vexalo {

// A level from 0 (silence) to 9 (full scale), 6 dB a step, from the peak of the frames of
// the last 100 ms. Written by the audio thread, read by any.
class LevelMeter {
 public:
  void Update(const int16_t* frame, size_t samples);
  int level() const { return level_.load(std::memory_order_relaxed); }
  void Reset();

 private:
  int peak_ = 0;
  int frames_ = 0;
  std::atomic<int> level_{0};
};

}  // namespace vexalo
