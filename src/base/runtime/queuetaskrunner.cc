#include "base/runtime/queuetaskrunner.h"

#include <utility>

#include "base/runtime/eventqueue.h"
#include "base/runtime/loopthread.h"
#include "base/runtime/threadregistry.h"
#include "base/runtime/timeutils.h"

namespace vexalo {

QueueTaskRunner::QueueTaskRunner(EventQueue* queue, Clock clock, int poll_interval_ms)
    : queue_(queue ? queue : ThreadRegistry::Current()),
      clock_(clock ? std::move(clock) : Clock(MonotonicTime100ns)),
      poll_interval_ms_(poll_interval_ms) {}

QueueTaskRunner::~QueueTaskRunner() {
  // While this class is still whole, so task teardown reaches our WakeTasks and CurrentTime;
  // what it posts is cleared by the MessageTarget destructor.
  AbortAndDeleteTasks();
}

void QueueTaskRunner::WakeTasks() {
  if (wake_pending_.exchange(true)) return;
  queue_->Post(this, kRunMessageId);
}

int64_t QueueTaskRunner::CurrentTime() { return clock_(); }

void QueueTaskRunner::HandleMessage(QueuedMessage* msg) {
  delete msg->payload;
  msg->payload = nullptr;
  switch (msg->id) {
    case kRunMessageId:
      // Cleared first: a wake from a running task must post again.
      wake_pending_ = false;
      RunTasks();
      break;
    case kPollMessageId:
      poll_armed_ = false;
      PollTasks();
      break;
    default:
      return;
  }
  ArmPoll();
}

void QueueTaskRunner::ArmPoll() {
  if (poll_armed_ || task_count() == 0) return;
  poll_armed_ = true;
  queue_->PostAfter(poll_interval_ms_, this, kPollMessageId);
}

}  // namespace vexalo
