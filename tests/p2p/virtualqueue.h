#pragma once

#include "base/runtime/eventqueue.h"

namespace vexalo {

// An event queue on a clock the test moves: timed messages fall due only when the test
// advances past them, so schedules of seconds run in no time and always the same way.
class VirtualQueue : public EventQueue {
 public:
  Tick Now() const override { return now_; }

  // Moves the clock forward to `ms` later, dispatching every message on the way at the
  // moment it falls due.
  void Advance(int64_t ms) {
    const Tick end = now_ + ms;
    while (true) {
      RunDue();
      int next = NextDelay();
      if (next == kWaitForever || now_ + next > end) break;
      now_ += next;
    }
    now_ = end;
    RunDue();
  }
  // Moves the clock without dispatching anything: what is on the wire arrives late.
  void Jump(int64_t ms) { now_ += ms; }
  // Dispatches what is due now, and serves socket events: a UDP socket reads one datagram per
  // event, so a few rounds let everything sent on loopback arrive.
  void RunDue() {
    QueuedMessage msg;
    for (int idle = 0; idle < kIoRounds;) {
      if (Get(&msg, 0)) {
        Dispatch(&msg);
      } else {
        ++idle;
      }
    }
  }

  static constexpr int kIoRounds = 64;

 private:
  Tick now_ = 1000000;
};

}  // namespace vexalo
