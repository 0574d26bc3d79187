#pragma once

#include <functional>

#include "base/runtime/eventqueue.h"

namespace vexalo {

// Runs `queue` on real time until `done` holds or `limit_ms` pass; returns `done`.
inline bool RunUntil(EventQueue* queue, const std::function<bool()>& done, int limit_ms = 5000) {
  const Tick end = TickNow() + limit_ms;
  while (!done() && TickNow() < end) {
    QueuedMessage msg;
    if (queue->Get(&msg, 10)) queue->Dispatch(&msg);
  }
  return done();
}

}  // namespace vexalo
