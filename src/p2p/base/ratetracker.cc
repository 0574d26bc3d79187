#include "p2p/base/ratetracker.h"

namespace vexalo {

uint32_t RateTracker::Rate(uint64_t total, Tick now) {
  if (window_start_ == -1) {
    window_start_ = now;
    total_at_start_ = total;
    return rate_;
  }
  const int64_t span = TickDiff(now, window_start_);
  if (span >= 1000) {
    const int64_t rest = span % 1000;
    const int64_t bytes = static_cast<int64_t>(total - total_at_start_);
    // The bytes of the leftover part of a second, prorated, count towards the next reading.
    const int64_t carried = bytes * rest / span;
    rate_ = static_cast<uint32_t>((bytes - carried) * 1000 / (span - rest));
    window_start_ = now - rest;
    total_at_start_ = total - static_cast<uint64_t>(carried);
  }
  return rate_;
}

}  // namespace vexalo
