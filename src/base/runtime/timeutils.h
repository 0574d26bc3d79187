#pragma once

#include <cstdint>
#include <string>

namespace vexalo {

// Milliseconds of the monotonic clock. 64 bits, so it never wraps in practice; intervals are
// always computed as signed differences.
using Tick = int64_t;

Tick TickNow();

inline int64_t TickDiff(Tick later, Tick earlier) { return later - earlier; }

// The monotonic clock in 100-nanosecond units, the unit of task time-outs.
int64_t MonotonicTime100ns();

// The local time in the C library's asctime form, without its line end ("Thu Dec 10 15:54:51
// 2026"), as log lines about traffic and power events print it.
std::string LocalAsctimeText();

}  // namespace vexalo
