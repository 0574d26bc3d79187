#include "app/reconnectbackoff.h"

#include <sys/random.h>

#include <algorithm>
#include <memory>
#include <random>

#include "app/loginmessages.h"

namespace vexalo {

ReconnectBackoff::ReconnectBackoff(Random random) : random_(std::move(random)) {}

void ReconnectBackoff::Reset(bool user_idle, int64_t now_ms) {
  const int64_t r = random_();
  delay_ms_ = user_idle ? kIdleBaseMs + r % kIdleSpreadMs : kActiveBaseMs + r % kActiveSpreadMs;
  next_attempt_ms_ = now_ms + delay_ms_;
}

void ReconnectBackoff::StartWaiting(int64_t now_ms) { next_attempt_ms_ = now_ms + delay_ms_; }

ReconnectBackoff::Step ReconnectBackoff::Tick(int64_t now_ms, bool network_alive, bool suspended,
                                              bool user_idle) {
  Step step;
  const bool network_came_back = network_alive && !network_alive_;
  network_alive_ = network_alive;
  if (suspended) {
    step.action = Step::kSuspended;
    step.message = kMsgSuspended;
    return step;
  }
  if (now_ms >= next_attempt_ms_) {
    delay_ms_ = std::min(2 * delay_ms_, kMaxDelayMs);
    next_attempt_ms_ = now_ms + delay_ms_;
    step.action = Step::kAttemptNow;
    return step;
  }
  if (network_came_back) {
    Reset(user_idle, now_ms);
    next_attempt_ms_ = now_ms + kNetworkBackMs;
  }
  const int64_t seconds = (next_attempt_ms_ - now_ms) / 1000;
  if (seconds <= 0) {
    step.message = kMsgReconnectingNow;
  } else if (seconds <= 90) {
    step.message = kMsgReconnectingInSeconds;
    step.number = static_cast<long>(seconds);
  } else {
    step.message = kMsgReconnectingInMinutes;
    step.number = static_cast<long>((seconds + 30) / 60);
  }
  step.long_wait = seconds > 150;
  return step;
}

ReconnectBackoff::Random MakeJitterSource() {
  uint32_t seed = 0;
  if (getrandom(&seed, sizeof(seed), 0) != sizeof(seed)) seed = 0x5eed;
  auto engine = std::make_shared<std::minstd_rand>(seed);
  return [engine] { return static_cast<int>((*engine)() & 0x7FFF); };
}

}  // namespace vexalo
