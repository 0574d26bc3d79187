#pragma once

#include <cstdint>

namespace vexalo {

// Milliseconds of the monotonic clock. 64 bits, so it never wraps in practice; intervals are
// always computed as signed differences.
using Tick = int64_t;

Tick TickNow();

inline int64_t TickDiff(Tick later, Tick earlier) { return later - earlier; }

// The monotonic clock in 100-nanosecond units, the unit of task time-outs.
int64_t MonotonicTime100ns();

}  // namespace vexalo
