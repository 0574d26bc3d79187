#pragma once

#include <cstdint>
#include <functional>

namespace vexalo {

// When to try signing in again after the connection list ran out: a randomised first wait
// (short while the user is active, long while idle), doubled after every failed round up to
// half an hour, cut short when the network comes back, held while the machine suspends.
class ReconnectBackoff {
 public:
  static constexpr int64_t kMaxDelayMs = 1800000;
  static constexpr int64_t kActiveBaseMs = 5000;
  static constexpr int64_t kActiveSpreadMs = 20000;
  static constexpr int64_t kIdleBaseMs = 120000;
  static constexpr int64_t kIdleSpreadMs = 240000;
  static constexpr int64_t kNetworkBackMs = 5000;
  // A delay above this is reset as soon as a sign-in succeeds; a smaller one only after the
  // connection has held for the reset timer's period.
  static constexpr int64_t kResetOnSignInAboveMs = 179999;

  // Values 0..32767, like the C library's rand().
  using Random = std::function<int()>;

  explicit ReconnectBackoff(Random random);

  // The first wait, counted from `now_ms`.
  void Reset(bool user_idle, int64_t now_ms);
  // Waiting starts: the next attempt is one delay from now.
  void StartWaiting(int64_t now_ms);

  struct Step {
    enum Action { kWait, kAttemptNow, kSuspended } action = kWait;
    // The status line while waiting: a message id and, for countdowns, its number.
    int message = 0;
    long number = 0;
    // The wait is long: the sign-in page may be shown.
    bool long_wait = false;
  };
  // One housekeeping tick while waiting to reconnect.
  Step Tick(int64_t now_ms, bool network_alive, bool suspended, bool user_idle);

  int64_t delay_ms() const { return delay_ms_; }
  int64_t next_attempt_ms() const { return next_attempt_ms_; }

 private:
  Random random_;
  int64_t delay_ms_ = kActiveBaseMs;
  int64_t next_attempt_ms_ = 0;
  bool network_alive_ = true;
};

// A small generator for the reconnect jitter (0..32767), seeded from the system's randomness.
ReconnectBackoff::Random MakeJitterSource();

}  // namespace vexalo
