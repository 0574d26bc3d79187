#include "p2p/base/unknownsenderlimit.h"

#include <algorithm>

namespace vexalo {

bool UnknownSenderLimit::Allow(Tick now) {
  if (started_) {
    const int64_t elapsed = std::max<int64_t>(0, TickDiff(now, last_));
    tokens_milli_ = std::min<int64_t>(kBurst * 1000, tokens_milli_ + elapsed * kPerSecond);
  }
  started_ = true;
  last_ = now;
  if (tokens_milli_ < 1000) {
    ++suppressed_;
    return false;
  }
  tokens_milli_ -= 1000;
  return true;
}

}  // namespace vexalo
