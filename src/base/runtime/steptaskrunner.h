#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/runtime/signal.h"
#include "base/runtime/steptaskparent.h"

namespace vexalo {

class StepTask;

// Runs a tree of StepTasks on one thread: steps every task that is not blocked until it
// blocks, and deletes the tasks that finished. Subclasses decide how a wake-up reaches the
// thread (WakeTasks) and what time is (CurrentTime).
class StepTaskRunner : public StepTaskParent, public SlotHost {
 public:
  StepTaskRunner();
  // Aborts and deletes every task. A subclass whose WakeTasks or CurrentTime may be reached
  // from task teardown calls AbortAndDeleteTasks in its own destructor first.
  ~StepTaskRunner() override;

  // Takes a task into the list (Start calls this) and wakes.
  void StartTask(StepTask* task);
  // Steps tasks until none can run, then deletes the finished ones. Not re-entered: a call
  // from inside a task returns at once.
  void RunTasks();
  // Calls Poll on every task that is not done, to drive time-outs.
  void PollTasks();

  // Arranges for RunTasks to be called soon on the runner's thread; never calls it directly.
  virtual void WakeTasks() = 0;
  // Time in 100-ns units for task time-outs; need only be monotonic.
  virtual int64_t CurrentTime() = 0;

  // Started tasks not yet deleted.
  size_t task_count() const { return tasks_.size(); }
  bool running() const { return running_; }

 protected:
  // Aborts everything and runs until every task was deleted. Must not be called from inside
  // RunTasks.
  void AbortAndDeleteTasks();

 private:
  std::vector<StepTask*> tasks_;  // in start order
  bool running_ = false;
};

}  // namespace vexalo
