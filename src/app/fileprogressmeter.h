#pragma once

#include <cstdint>

#include "base/runtime/timeutils.h"

namespace vexalo {

// Decides when a transfer's progress is worth reporting: at most every kIntervalMs, and always
// for the last byte.
class FileProgressMeter {
 public:
  static constexpr int64_t kIntervalMs = 250;

  bool ShouldReport(Tick now, uint64_t bytes, uint64_t total) {
    if (bytes != total && reported_ && now - last_ < kIntervalMs) return false;
    reported_ = true;
    last_ = now;
    return true;
  }

 private:
  bool reported_ = false;
  Tick last_ = 0;
};

}  // namespace vexalo
