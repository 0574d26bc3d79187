#include "base/runtime/steptaskrunner.h"

#include <algorithm>

#include "base/runtime/steptask.h"

namespace vexalo {

StepTaskRunner::StepTaskRunner() : StepTaskParent(this) {}

StepTaskRunner::~StepTaskRunner() { AbortAndDeleteTasks(); }

void StepTaskRunner::StartTask(StepTask* task) {
  tasks_.push_back(task);
  WakeTasks();
}

void StepTaskRunner::RunTasks() {
  if (running_) return;
  running_ = true;

  bool ran = true;
  while (ran) {
    ran = false;
    // By index, re-reading the size: tasks started during the pass run in the same pass,
    // and appending may move the vector.
    for (size_t i = 0; i < tasks_.size(); ++i) {
      StepTask* task = tasks_[i];
      if (task->blocked()) continue;
      ran = true;
      while (!task->blocked()) task->Step();
    }
  }

  // Task destructors may start new tasks, so again by index.
  for (size_t i = 0; i < tasks_.size(); ++i) {
    StepTask* task = tasks_[i];
    if (task && task->done()) {
      tasks_[i] = nullptr;
      delete task;
    }
  }
  tasks_.erase(std::remove(tasks_.begin(), tasks_.end(), nullptr), tasks_.end());

  running_ = false;
}

void StepTaskRunner::PollTasks() {
  for (size_t i = 0; i < tasks_.size(); ++i) {
    StepTask* task = tasks_[i];
    if (!task->done()) task->Poll();
  }
}

void StepTaskRunner::AbortAndDeleteTasks() {
  if (running_) return;
  AbortAllChildren();
  while (!tasks_.empty()) {
    // Every started task descends from the runner, but a Stop override that skips the base
    // would leave its children running; abort the list directly too.
    for (size_t i = 0; i < tasks_.size(); ++i) tasks_[i]->Abort(true);
    RunTasks();
  }
}

}  // namespace vexalo
