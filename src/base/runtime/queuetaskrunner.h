#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "base/runtime/queuedmessage.h"
#include "base/runtime/steptaskrunner.h"

namespace vexalo {

class EventQueue;

// A task runner driven by an EventQueue: a wake-up is one posted message whose handler runs
// the tasks, and a timed message polls them every poll interval while any exist (an idle
// runner keeps no timer). On the UI thread the queue is the main LoopThread's, drained by the
// GLib main loop. Create, use and destroy it on the queue's thread; only WakeTasks may be
// called from other threads.
class QueueTaskRunner : public StepTaskRunner, public MessageTarget {
 public:
  using Clock = std::function<int64_t()>;

  static constexpr int kPollIntervalMs = 500;
  static constexpr uint32_t kRunMessageId = 1;
  static constexpr uint32_t kPollMessageId = 2;

  // `queue` null: the calling thread's LoopThread (it must have one). `clock` empty: the
  // monotonic clock in 100-ns units; tests pass a virtual one.
  explicit QueueTaskRunner(EventQueue* queue = nullptr, Clock clock = nullptr,
                           int poll_interval_ms = kPollIntervalMs);
  ~QueueTaskRunner() override;

  // Posts one run message; further calls are folded into it until it is handled.
  void WakeTasks() override;
  int64_t CurrentTime() override;
  void HandleMessage(QueuedMessage* msg) override;

  EventQueue* queue() const { return queue_; }

 private:
  void ArmPoll();

  EventQueue* queue_;
  Clock clock_;
  int poll_interval_ms_;
  std::atomic<bool> wake_pending_{false};
  bool poll_armed_ = false;
};

}  // namespace vexalo
