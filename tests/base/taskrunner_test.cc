#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "base/runtime/backgroundtaskrunner.h"
#include "base/runtime/eventqueue.h"
#include "base/runtime/loopthread.h"
#include "base/runtime/queuetaskrunner.h"
#include "base/runtime/steptask.h"
#include "base/runtime/threadregistry.h"

namespace vexalo {
namespace {

// Runs a function given at construction on whatever thread handles its message.
class CallTarget : public MessageTarget {
 public:
  explicit CallTarget(std::function<void()> fn) : fn_(std::move(fn)) {}
  void HandleMessage(QueuedMessage* msg) override {
    delete msg->payload;
    fn_();
  }

 private:
  std::function<void()> fn_;
};

// Blocks until woken, then finishes; fails once Poll finds it waited `limit`. Reports where
// it ran and when it was deleted.
class WaitTask : public StepTask {
 public:
  WaitTask(StepTaskParent* parent, int64_t limit) : StepTask(parent), limit_(limit) {}
  ~WaitTask() override {
    if (on_deleted) on_deleted();
  }

  void Answer() {
    answered_ = true;
    Wake();
  }
  int ProcessStart() override {
    ran_on = ThreadRegistry::Current();
    ++starts;
    if (timed_out_) return STATE_ERROR;
    return answered_ ? STATE_DONE : STATE_BLOCKED;
  }
  void Poll() override {
    ++polls;
    if (ElapsedTime() < limit_) return;
    timed_out_ = true;
    Wake();
  }

  LoopThread* ran_on = nullptr;
  int starts = 0;
  int polls = 0;
  std::function<void()> on_deleted;

 private:
  int64_t limit_;
  bool answered_ = false;
  bool timed_out_ = false;
};

// Takes one waiting message and dispatches it; false when none is due.
bool DispatchOne(EventQueue* queue) {
  QueuedMessage msg;
  if (!queue->Get(&msg, 0)) return false;
  queue->Dispatch(&msg);
  return true;
}

TEST(QueueTaskRunnerTest, WakesFoldIntoOneMessageAndPollingStopsWhenIdle) {
  constexpr int64_t kLimit = 150'000'000;
  EventQueue queue;
  int64_t now = 5;
  bool deleted[2] = {false, false};
  // A zero poll interval makes every poll due at the next Get, so the test steps the timer.
  QueueTaskRunner runner(
      &queue, [&] { return now; }, 0);
  EXPECT_EQ(runner.queue(), &queue);
  EXPECT_EQ(runner.CurrentTime(), 5);

  auto* answered = new WaitTask(&runner, kLimit);
  auto* timing_out = new WaitTask(&runner, kLimit);
  answered->on_deleted = [&] { deleted[0] = true; };
  timing_out->on_deleted = [&] { deleted[1] = true; };
  answered->Start();
  timing_out->Start();
  runner.WakeTasks();
  EXPECT_EQ(queue.Size(), 1u);

  ASSERT_TRUE(DispatchOne(&queue));  // run
  EXPECT_EQ(answered->starts, 1);
  EXPECT_EQ(timing_out->starts, 1);
  EXPECT_EQ(queue.Size(), 1u);  // only the poll timer

  answered->Answer();
  answered->Wake();
  EXPECT_EQ(queue.Size(), 2u);
  ASSERT_TRUE(DispatchOne(&queue));  // run: `answered` finishes
  EXPECT_TRUE(deleted[0]);
  EXPECT_EQ(runner.task_count(), 1u);

  ASSERT_TRUE(DispatchOne(&queue));  // poll, not yet timed out; re-armed
  EXPECT_EQ(timing_out->polls, 1);
  EXPECT_EQ(queue.Size(), 1u);

  now += kLimit;
  ASSERT_TRUE(DispatchOne(&queue));  // poll: times out and wakes
  EXPECT_EQ(timing_out->polls, 2);
  ASSERT_TRUE(DispatchOne(&queue));  // run
  EXPECT_TRUE(deleted[1]);
  EXPECT_EQ(runner.task_count(), 0u);

  ASSERT_TRUE(DispatchOne(&queue));  // the last poll finds nothing and does not re-arm
  EXPECT_EQ(queue.Size(), 0u);
  EXPECT_FALSE(DispatchOne(&queue));
}

TEST(QueueTaskRunnerTest, DefaultPollIntervalArmsATimerOnlyWhileTasksExist) {
  EventQueue queue;
  QueueTaskRunner runner(&queue);
  EXPECT_EQ(queue.NextDelay(), kWaitForever);
  auto* task = new WaitTask(&runner, INT64_MAX);
  task->Start();
  ASSERT_TRUE(DispatchOne(&queue));
  EXPECT_EQ(queue.Size(), 1u);         // the poll timer, and no other wake-up
  EXPECT_GT(runner.CurrentTime(), 0);  // the monotonic clock, in 100-ns units
}

TEST(QueueTaskRunnerTest, DestroyingTheRunnerDeletesItsTasksAndItsMessages) {
  EventQueue queue;
  bool deleted = false;
  {
    QueueTaskRunner runner(&queue);
    auto* task = new WaitTask(&runner, INT64_MAX);
    task->on_deleted = [&] { deleted = true; };
    task->Start();
    ASSERT_TRUE(DispatchOne(&queue));
    task->Answer();
    EXPECT_EQ(queue.Size(), 2u);
  }
  EXPECT_TRUE(deleted);
  EXPECT_EQ(queue.Size(), 0u);
}

TEST(QueueTaskRunnerTest, WakeFromAnotherThreadRunsTheTaskOnTheRunnersThread) {
  LoopThread worker;
  ASSERT_TRUE(worker.Start());
  std::unique_ptr<QueueTaskRunner> runner;
  WaitTask* task = nullptr;
  std::promise<LoopThread*> finished_on;

  CallTarget setup([&] {
    runner = std::make_unique<QueueTaskRunner>();  // binds to the calling thread's queue
    task = new WaitTask(runner.get(), INT64_MAX);
    task->on_deleted = [&] { finished_on.set_value(ThreadRegistry::Current()); };
    task->Start();
  });
  worker.Invoke(&setup);
  EXPECT_EQ(runner->queue(), &worker);

  // Tasks are touched only on their thread: the wake-up travels as a posted message.
  CallTarget answer([&] { task->Answer(); });
  worker.Post(&answer);
  EXPECT_EQ(finished_on.get_future().get(), &worker);

  CallTarget teardown([&] { runner.reset(); });
  worker.Invoke(&teardown);
  worker.Stop();
}

TEST(BackgroundTaskRunnerTest, RunsTasksOnItsThreadAndAbortsThemThereWhenDestroyed) {
  std::promise<LoopThread*> answered_on;
  std::thread::id aborted_on;
  bool aborted = false;
  LoopThread* runner_thread = nullptr;
  {
    BackgroundTaskRunner background;
    runner_thread = background.thread();
    ASSERT_TRUE(runner_thread->IsStarted());

    WaitTask* answered = nullptr;
    CallTarget start([&] {
      answered = new WaitTask(&background, INT64_MAX);
      answered->on_deleted = [&] { answered_on.set_value(ThreadRegistry::Current()); };
      answered->Start();
      auto* waiting = new WaitTask(&background, INT64_MAX);
      waiting->on_deleted = [&, waiting] {
        aborted = waiting->aborted();
        aborted_on = std::this_thread::get_id();
      };
      waiting->Start();
    });
    runner_thread->Invoke(&start);
    CallTarget answer([&] { answered->Answer(); });
    runner_thread->Post(&answer);
    EXPECT_EQ(answered_on.get_future().get(), runner_thread);
  }
  EXPECT_TRUE(aborted);
  EXPECT_NE(aborted_on, std::this_thread::get_id());
}

}  // namespace
}  // namespace vexalo
