#include "base/runtime/timeutils.h"

#include <ctime>

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

std::string LocalAsctimeText() {
  const time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  char text[64] = {};
  if (asctime_r(&local, text) == nullptr) return {};
  std::string result(text);
  while (!result.empty() && result.back() == '\n') result.pop_back();
  return result;
}

}  // namespace vexalo
