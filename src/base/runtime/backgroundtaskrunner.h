#pragma once

#include "base/runtime/loopthread.h"
#include "base/runtime/queuetaskrunner.h"

namespace vexalo {

namespace internal {
// Holds the thread so that it exists before, and outlives, the runner built on its queue.
struct BackgroundTaskThread {
  BackgroundTaskThread();
  LoopThread loop_thread;
};
}  // namespace internal

// A task runner with a thread of its own, for tasks that must not run on the UI thread (slow
// or blocking calls). Its tasks run on thread(): create and start them there, through
// thread()->Invoke or a message posted to thread(); only WakeTasks may be called from
// elsewhere. The object itself is made and destroyed on some other thread (never on its own);
// destruction aborts and deletes the tasks on the runner's thread, then stops it.
class BackgroundTaskRunner : private internal::BackgroundTaskThread, public QueueTaskRunner {
 public:
  explicit BackgroundTaskRunner(Clock clock = nullptr);
  ~BackgroundTaskRunner() override;

  LoopThread* thread() { return &loop_thread; }

  void HandleMessage(QueuedMessage* msg) override;

 private:
  static constexpr uint32_t kShutdownMessageId = 3;
};

}  // namespace vexalo
