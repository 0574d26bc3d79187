#pragma once

#include <cstdint>

#include "base/runtime/timeutils.h"

namespace vexalo {

// How much a port does for packets from addresses it has no connection for: anyone can send
// those, so answers (error responses) and log lines about them are paced by a token bucket
// and the rest only counted. Constant memory whatever the number of senders.
class UnknownSenderLimit {
 public:
  static constexpr int kPerSecond = 50;
  static constexpr int kBurst = 50;

  // Whether one more answer or log line may go out now.
  bool Allow(Tick now);
  uint64_t suppressed() const { return suppressed_; }

 private:
  int64_t tokens_milli_ = kBurst * 1000;
  Tick last_ = 0;
  bool started_ = false;
  uint64_t suppressed_ = 0;
};

}  // namespace vexalo
