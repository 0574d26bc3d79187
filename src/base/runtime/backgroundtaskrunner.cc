#include "base/runtime/backgroundtaskrunner.h"

#include <utility>

namespace vexalo {

internal::BackgroundTaskThread::BackgroundTaskThread() { loop_thread.SetName("tasks"); }

BackgroundTaskRunner::BackgroundTaskRunner(Clock clock)
    : QueueTaskRunner(&loop_thread, std::move(clock)) {
  loop_thread.Start();
}

BackgroundTaskRunner::~BackgroundTaskRunner() {
  // Tasks are torn down on their own thread; nothing of ours runs there after Stop. Without
  // a thread no task ever ran, and the base destructors clean up here.
  if (loop_thread.IsStarted()) loop_thread.Invoke(this, kShutdownMessageId);
  loop_thread.Stop();
}

void BackgroundTaskRunner::HandleMessage(QueuedMessage* msg) {
  if (msg->id == kShutdownMessageId) {
    AbortAndDeleteTasks();
    return;
  }
  QueueTaskRunner::HandleMessage(msg);
}

}  // namespace vexalo
