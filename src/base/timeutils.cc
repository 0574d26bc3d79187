#include "base/timeutils.h"

#include <time.h>

namespace vexalo {

Tick TickNow() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Tick>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int64_t MonotonicTime100ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
}

}  // namespace vexalo
