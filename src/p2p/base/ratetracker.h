#pragma once

#include <cstdint>

#include "base/runtime/timeutils.h"

namespace vexalo {

// Bytes per second of a growing byte total, over whole seconds: each reading moves the window
// on by the whole seconds that passed and keeps the rest for the next one.
class RateTracker {
 public:
  // `total` is the byte count now, `now` the clock.
  uint32_t Rate(uint64_t total, Tick now);

 private:
  Tick window_start_ = -1;
  uint64_t total_at_start_ = 0;
  uint32_t rate_ = 0;
};

}  // namespace vexalo
