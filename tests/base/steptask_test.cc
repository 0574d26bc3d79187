#include "base/runtime/steptask.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/runtime/steptaskrunner.h"

namespace vexalo {
namespace {

// A runner whose wake-ups are only counted and whose clock is set by the test, so each test
// decides exactly when RunTasks and PollTasks happen.
class FakeRunner : public StepTaskRunner {
 public:
  ~FakeRunner() override { AbortAndDeleteTasks(); }
  void WakeTasks() override { ++wakes; }
  int64_t CurrentTime() override { return now; }

  int wakes = 0;
  int64_t now = 0;
};

// What a task leaves behind, readable after the runner deleted it.
struct Record {
  std::vector<int> states;  // every state Process was called with
  int stops = 0;
  int polls = 0;
  bool deleted = false;
  int final_state = -100;
  bool final_done = false;
  bool final_blocked = false;
  bool final_aborted = false;
  bool final_error = false;
};

class TestTask : public StepTask {
 public:
  TestTask(StepTaskParent* parent, Record* record) : StepTask(parent), record_(record) {}
  ~TestTask() override {
    record_->deleted = true;
    record_->final_state = state();
    record_->final_done = done();
    record_->final_blocked = blocked();
    record_->final_aborted = aborted();
    record_->final_error = error();
  }

  int Process(int state) override {
    record_->states.push_back(state);
    return StepTask::Process(state);
  }
  void Stop() override {
    ++record_->stops;
    StepTask::Stop();
  }
  void Poll() override {
    ++record_->polls;
    if (on_poll) on_poll();
  }
  int ProcessStart() override { return on_start ? on_start() : STATE_BLOCKED; }

  std::function<int()> on_start;
  std::function<void()> on_poll;

 private:
  Record* record_;
};

// Makes a started task that blocks in START until `on_start` says otherwise.
TestTask* StartTask(StepTaskParent* parent, Record* record, std::function<int()> on_start = {}) {
  auto* task = new TestTask(parent, record);
  task->on_start = std::move(on_start);
  task->Start();
  return task;
}

TEST(StepTaskTest, DefaultDispatchAndStateNames) {
  FakeRunner runner;
  Record record;
  TestTask task(&runner, &record);
  task.on_start = [] { return 42; };

  struct Case {
    int state;
    int next;
    const char* name;
  };
  const Case cases[] = {
      {StepTask::STATE_INIT, StepTask::STATE_START, "INIT"},
      {StepTask::STATE_START, 42, "START"},
      {StepTask::STATE_DONE, StepTask::STATE_BLOCKED, "DONE"},
      {StepTask::STATE_ERROR, StepTask::STATE_BLOCKED, "ERROR"},
      {StepTask::STATE_RESPONSE, StepTask::STATE_DONE, "RESPONSE"},
      {StepTask::STATE_BLOCKED, StepTask::STATE_ERROR, "BLOCKED"},
      {StepTask::STATE_NEXT, StepTask::STATE_ERROR, "??"},
      {1000, StepTask::STATE_ERROR, "??"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    EXPECT_EQ(task.Process(c.state), c.next);
    EXPECT_STREQ(task.StateName(c.state), c.name);
  }
}

TEST(StepTaskTest, FreshTaskJoinsItsParentWithEverythingClear) {
  FakeRunner runner;
  Record record;
  TestTask task(&runner, &record);
  EXPECT_EQ(task.parent(), &runner);
  EXPECT_EQ(task.runner(), &runner);
  EXPECT_EQ(runner.children().count(&task), 1u);
  EXPECT_EQ(task.state(), StepTask::STATE_INIT);
  EXPECT_FALSE(task.blocked() || task.done() || task.aborted() || task.busy() || task.error());
  EXPECT_EQ(task.start_time(), 0);

  Record child_record;
  TestTask child(&task, &child_record);
  EXPECT_EQ(child.parent(), &task);
  EXPECT_EQ(child.runner(), &runner);
  EXPECT_EQ(task.children().count(&child), 1u);
}

TEST(StepTaskTest, TaskDoneInProcessStartIsSteppedStoppedAndDeletedInOneRun) {
  FakeRunner runner;
  Record record;
  StartTask(&runner, &record, [] { return StepTask::STATE_DONE; });
  EXPECT_EQ(runner.wakes, 1);
  EXPECT_EQ(runner.task_count(), 1u);

  runner.RunTasks();

  EXPECT_EQ(record.states, (std::vector<int>{StepTask::STATE_INIT, StepTask::STATE_START}));
  EXPECT_EQ(record.stops, 1);
  EXPECT_TRUE(record.deleted);
  EXPECT_EQ(record.final_state, StepTask::STATE_DONE);
  EXPECT_TRUE(record.final_done && record.final_blocked);
  EXPECT_FALSE(record.final_error || record.final_aborted);
  EXPECT_EQ(runner.task_count(), 0u);
  EXPECT_TRUE(runner.children().empty());
  EXPECT_FALSE(runner.child_error());
}

TEST(StepTaskTest, BlockedTaskWaitsForWakeAndThenRunsToTheEnd) {
  FakeRunner runner;
  Record record;
  bool answered = false;
  TestTask* task = StartTask(&runner, &record, [&] {
    return answered ? StepTask::STATE_RESPONSE : StepTask::STATE_BLOCKED;
  });

  runner.RunTasks();
  EXPECT_EQ(record.states, (std::vector<int>{StepTask::STATE_INIT, StepTask::STATE_START}));
  EXPECT_TRUE(task->blocked());
  EXPECT_EQ(task->state(), StepTask::STATE_START);

  runner.RunTasks();  // nothing woke it
  EXPECT_EQ(record.states.size(), 2u);

  answered = true;
  task->Wake();
  EXPECT_FALSE(task->blocked());
  EXPECT_EQ(runner.wakes, 2);
  runner.RunTasks();

  EXPECT_EQ(record.states, (std::vector<int>{StepTask::STATE_INIT, StepTask::STATE_START,
                                             StepTask::STATE_START, StepTask::STATE_RESPONSE}));
  EXPECT_TRUE(record.deleted);
  EXPECT_EQ(record.final_state, StepTask::STATE_DONE);
}

TEST(StepTaskTest, WakeOnlyActsOnABlockedTaskThatIsNotDone) {
  FakeRunner runner;
  Record unstarted_record;
  TestTask unstarted(&runner, &unstarted_record);
  unstarted.Wake();  // not blocked
  EXPECT_EQ(runner.wakes, 0);

  Record record;
  TestTask* task = StartTask(&runner, &record);
  EXPECT_EQ(runner.wakes, 1);
  task->Wake();  // started but not stepped yet: not blocked
  EXPECT_EQ(runner.wakes, 1);

  runner.RunTasks();
  task->Wake();
  task->Wake();  // the first one already cleared blocked
  EXPECT_EQ(runner.wakes, 2);

  runner.RunTasks();
  task->Abort(true);
  ASSERT_TRUE(task->done());
  task->Wake();  // done
  EXPECT_TRUE(task->blocked());
  EXPECT_EQ(runner.wakes, 2);

  runner.RunTasks();
  EXPECT_TRUE(record.deleted);
}

TEST(StepTaskTest, StartCountsOnlyOnce) {
  FakeRunner runner;
  runner.now = 7;
  Record record;
  TestTask* task = StartTask(&runner, &record, [] { return StepTask::STATE_BLOCKED; });
  EXPECT_EQ(task->start_time(), 7);

  runner.now = 9;
  task->Start();  // still INIT: a second entry would be deleted twice
  EXPECT_EQ(runner.task_count(), 1u);
  EXPECT_EQ(runner.wakes, 1);
  EXPECT_EQ(task->start_time(), 7);

  runner.RunTasks();
  task->Start();  // past INIT
  EXPECT_EQ(runner.task_count(), 1u);
  EXPECT_EQ(task->state(), StepTask::STATE_START);
  EXPECT_EQ(record.states.size(), 2u);

  task->Abort();
  runner.RunTasks();
  EXPECT_TRUE(record.deleted);
  EXPECT_EQ(runner.task_count(), 0u);
}

TEST(StepTaskTest, AbortFromOutsideFinishesAtOnceAndDeletesOnTheNextRun) {
  FakeRunner runner;
  Record quiet_record;
  Record record;
  TestTask* quiet = StartTask(&runner, &quiet_record);
  TestTask* task = StartTask(&runner, &record);
  runner.RunTasks();
  const int wakes = runner.wakes;

  task->Abort();
  EXPECT_TRUE(task->done() && task->blocked() && task->error() && task->aborted());
  EXPECT_EQ(record.stops, 1);
  EXPECT_EQ(runner.wakes, wakes + 1);
  EXPECT_FALSE(runner.child_error());  // aborting is not STATE_ERROR
  task->Abort();
  EXPECT_EQ(record.stops, 1);

  quiet->Abort(true);
  EXPECT_EQ(runner.wakes, wakes + 1);
  EXPECT_EQ(quiet_record.stops, 1);

  EXPECT_FALSE(record.deleted);
  runner.RunTasks();
  EXPECT_TRUE(record.deleted);
  EXPECT_TRUE(quiet_record.deleted);
  EXPECT_EQ(record.final_state, StepTask::STATE_START);
  EXPECT_EQ(record.states.size(), 2u);  // never stepped again
}

TEST(StepTaskTest, AbortFromInsideItsOwnProcessCompletesWhenProcessReturns) {
  FakeRunner runner;
  Record record;
  Record child_record;
  TestTask* task = nullptr;
  int stops_during_process = -1;
  bool busy_during_process = false;
  task = StartTask(&runner, &record, [&] {
    StartTask(task, &child_record);
    task->Abort();
    busy_during_process = task->busy();
    stops_during_process = record.stops;
    return StepTask::STATE_RESPONSE;  // ignored: the abort wins
  });

  runner.RunTasks();

  EXPECT_TRUE(busy_during_process);
  EXPECT_EQ(stops_during_process, 0);
  EXPECT_EQ(record.stops, 1);
  EXPECT_TRUE(record.deleted);
  EXPECT_TRUE(record.final_done && record.final_blocked && record.final_error &&
              record.final_aborted);
  EXPECT_EQ(record.final_state, StepTask::STATE_START);
  EXPECT_EQ(record.states, (std::vector<int>{StepTask::STATE_INIT, StepTask::STATE_START}));
  // The child it started in the same Process went down with it.
  EXPECT_TRUE(child_record.deleted);
  EXPECT_TRUE(child_record.final_aborted);
}

TEST(StepTaskTest, ErrorFromOutsideEndsTheTaskAtItsNextStep) {
  FakeRunner runner;
  Record record;
  TestTask* task = StartTask(&runner, &record);
  runner.RunTasks();
  const int wakes = runner.wakes;

  task->Error();
  task->Error();
  EXPECT_EQ(runner.wakes, wakes + 1);
  EXPECT_TRUE(task->error());
  EXPECT_FALSE(task->done());

  runner.RunTasks();
  EXPECT_TRUE(record.deleted);
  EXPECT_EQ(record.final_state, StepTask::STATE_ERROR);
  EXPECT_EQ(record.stops, 1);
  EXPECT_EQ(record.states.size(), 2u);  // Process is not called for the error
  EXPECT_TRUE(runner.child_error());
}

TEST(StepTaskTest, ErrorRaisedDuringProcessIsNotLeftAsleep) {
  FakeRunner runner;
  Record record;
  TestTask* task = nullptr;
  task = StartTask(&runner, &record, [&] {
    task->Error();  // e.g. a send that failed synchronously
    return StepTask::STATE_BLOCKED;
  });
  runner.RunTasks();
  EXPECT_TRUE(record.deleted);
  EXPECT_EQ(record.final_state, StepTask::STATE_ERROR);
}

TEST(StepTaskTest, ParentLearnsWhetherAChildFailed) {
  struct Case {
    const char* how;
    std::function<int()> on_start;
    std::function<void(TestTask*)> from_outside;
    bool child_error;
  };
  const Case cases[] = {
      {"done", [] { return StepTask::STATE_DONE; }, nullptr, false},
      {"response", [] { return StepTask::STATE_RESPONSE; }, nullptr, false},
      {"error state", [] { return StepTask::STATE_ERROR; }, nullptr, true},
      {"unhandled state", [] { return StepTask::STATE_NEXT + 3; }, nullptr, true},
      {"Error()", nullptr, [](TestTask* t) { t->Error(); }, true},
      {"Abort()", nullptr, [](TestTask* t) { t->Abort(); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    Record parent_record;
    Record child_record;
    FakeRunner runner;
    TestTask* parent = StartTask(&runner, &parent_record);
    TestTask* child = StartTask(parent, &child_record, c.on_start);
    runner.RunTasks();
    if (c.from_outside) {
      c.from_outside(child);
      runner.RunTasks();
    }
    EXPECT_TRUE(child_record.deleted);
    EXPECT_EQ(parent->child_error(), c.child_error);
    EXPECT_TRUE(parent->children().empty());
    // A failing child does not end its parent; the parent decides.
    EXPECT_FALSE(parent->done());
    EXPECT_FALSE(runner.child_error());
  }
}

TEST(StepTaskTest, FinishingParentAbortsItsRunningDescendantsInTheSameRun) {
  FakeRunner runner;
  Record parent_record;
  Record child_records[2];
  Record grandchild_record;
  Record finished_child_record;
  bool finish = false;
  TestTask* parent = StartTask(&runner, &parent_record, [&] {
    return finish ? StepTask::STATE_DONE : StepTask::STATE_BLOCKED;
  });
  TestTask* first = StartTask(parent, &child_records[0]);
  StartTask(parent, &child_records[1]);
  StartTask(first, &grandchild_record);
  StartTask(parent, &finished_child_record, [] { return StepTask::STATE_DONE; });
  runner.RunTasks();
  EXPECT_TRUE(finished_child_record.deleted);
  EXPECT_EQ(parent->children().size(), 2u);
  EXPECT_EQ(runner.task_count(), 4u);

  finish = true;
  parent->Wake();
  runner.RunTasks();

  EXPECT_TRUE(parent_record.deleted);
  EXPECT_EQ(parent_record.final_state, StepTask::STATE_DONE);
  EXPECT_FALSE(parent_record.final_error);
  for (const Record* r : {&child_records[0], &child_records[1], &grandchild_record}) {
    EXPECT_TRUE(r->deleted);
    EXPECT_TRUE(r->final_aborted && r->final_error && r->final_done);
    EXPECT_EQ(r->stops, 1);
    EXPECT_EQ(r->states.size(), 2u);  // aborted while blocked: never stepped again
  }
  EXPECT_EQ(runner.task_count(), 0u);
  EXPECT_TRUE(runner.children().empty());
}

TEST(StepTaskTest, TasksStartedOrWokenDuringARunRunInThatRun) {
  FakeRunner runner;
  std::vector<std::string> log;
  Record early_record;
  Record late_record;
  Record spawned_record;
  bool early_may_finish = false;

  // `early` sits before `late` in the list, so waking it from `late` needs a second pass.
  TestTask* early = StartTask(&runner, &early_record, [&] {
    log.push_back(early_may_finish ? "early done" : "early blocks");
    return early_may_finish ? StepTask::STATE_DONE : StepTask::STATE_BLOCKED;
  });
  runner.RunTasks();

  StartTask(&runner, &late_record, [&] {
    StartTask(&runner, &spawned_record, [&] {
      log.push_back("spawned done");
      return StepTask::STATE_DONE;
    });
    early_may_finish = true;
    early->Wake();
    runner.RunTasks();  // a task may call it, but it must not re-enter
    log.push_back("late done");
    return StepTask::STATE_DONE;
  });
  runner.RunTasks();

  EXPECT_EQ(log,
            (std::vector<std::string>{"early blocks", "late done", "spawned done", "early done"}));
  EXPECT_TRUE(early_record.deleted);
  EXPECT_TRUE(late_record.deleted);
  EXPECT_TRUE(spawned_record.deleted);
  EXPECT_EQ(runner.task_count(), 0u);
  EXPECT_FALSE(runner.running());
}

TEST(StepTaskTest, DeletionKeepsTheOrderOfTheRemainingTasks) {
  std::vector<int> order;
  Record records[5];
  FakeRunner runner;
  TestTask* tasks[5];
  bool second_round = false;
  for (int i = 0; i < 5; ++i) {
    tasks[i] = StartTask(&runner, &records[i], [&, i] {
      if (second_round) order.push_back(i);
      return StepTask::STATE_BLOCKED;
    });
  }
  runner.RunTasks();
  tasks[0]->Abort();
  tasks[2]->Abort();
  tasks[3]->Abort();
  runner.RunTasks();
  EXPECT_EQ(runner.task_count(), 2u);

  second_round = true;
  tasks[4]->Wake();
  tasks[1]->Wake();
  runner.RunTasks();
  EXPECT_EQ(order, (std::vector<int>{1, 4}));
}

// Fails when it has waited `limit` of runner time, checked from Poll.
class TimeoutTask : public TestTask {
 public:
  TimeoutTask(StepTaskParent* parent, Record* record, int64_t limit)
      : TestTask(parent, record), limit_(limit) {
    on_start = [this] { return timed_out_ ? STATE_ERROR : STATE_BLOCKED; };
    on_poll = [this] {
      if (ElapsedTime() < limit_) return;
      timed_out_ = true;
      Wake();
    };
  }

 private:
  int64_t limit_;
  bool timed_out_ = false;
};

TEST(StepTaskTest, TimeOutIsDrivenByPollOnTheRunnersClock) {
  constexpr int64_t kFifteenSeconds = 150'000'000;
  FakeRunner runner;
  // Well past 32 bits, so a truncated time would show.
  runner.now = int64_t{1} << 40;
  Record record;
  auto* task = new TimeoutTask(&runner, &record, kFifteenSeconds);
  task->Start();
  Record done_record;
  TestTask* done_task = StartTask(&runner, &done_record);
  runner.RunTasks();
  done_task->Abort();

  runner.now += kFifteenSeconds - 1;
  EXPECT_EQ(task->ElapsedTime(), kFifteenSeconds - 1);
  runner.PollTasks();
  EXPECT_TRUE(task->blocked());
  EXPECT_EQ(record.polls, 1);
  EXPECT_EQ(done_record.polls, 0);  // done tasks are not polled

  runner.now += 1;
  runner.PollTasks();
  EXPECT_FALSE(task->blocked());
  runner.RunTasks();
  EXPECT_TRUE(record.deleted);
  EXPECT_EQ(record.final_state, StepTask::STATE_ERROR);
  EXPECT_TRUE(runner.child_error());
}

class Finder : public TestTask {
 public:
  static constexpr int kCode = 0x366c1e47;
  using TestTask::TestTask;
  StepTask* FindAncestor(int code) override {
    return code == kCode ? this : TestTask::FindAncestor(code);
  }
};

TEST(StepTaskTest, FindAncestorAnswersWithTheNearestTaskThatKnowsTheCode) {
  Record records[3];
  FakeRunner runner;
  auto* finder = new Finder(&runner, &records[0]);
  finder->Start();
  TestTask* child = StartTask(finder, &records[1]);
  TestTask* grandchild = StartTask(child, &records[2]);
  EXPECT_EQ(grandchild->FindAncestor(Finder::kCode), finder);
  EXPECT_EQ(child->FindAncestor(Finder::kCode), finder);
  EXPECT_EQ(grandchild->FindAncestor(Finder::kCode + 1), nullptr);
  EXPECT_EQ(runner.FindAncestor(Finder::kCode), nullptr);
}

TEST(StepTaskTest, DestroyingTheRunnerAbortsAndDeletesEveryTask) {
  Record records[4];
  {
    FakeRunner runner;
    TestTask* parent = StartTask(&runner, &records[0]);
    StartTask(parent, &records[1]);
    runner.RunTasks();
    StartTask(parent, &records[2]);  // started, never stepped
    StartTask(&runner, &records[3]);
  }
  for (const Record& r : records) {
    EXPECT_TRUE(r.deleted);
    EXPECT_TRUE(r.final_aborted);
    EXPECT_EQ(r.stops, 1);
  }
  EXPECT_TRUE(records[3].states.empty());
}

TEST(StepTaskTest, UnstartedTaskBelongsToItsCreatorAndLeavesItsParentWhenDeleted) {
  Record parent_record;
  Record record;
  Record child_record;
  FakeRunner runner;
  TestTask* parent = StartTask(&runner, &parent_record);
  auto task = std::make_unique<TestTask>(parent, &record);
  auto* child = new TestTask(task.get(), &child_record);
  child->Start();
  EXPECT_EQ(parent->children().size(), 1u);

  task.reset();

  EXPECT_TRUE(parent->children().empty());
  EXPECT_FALSE(parent->child_error());
  // Its started child was aborted, and the runner still deletes it.
  EXPECT_TRUE(child->aborted());
  runner.RunTasks();
  EXPECT_TRUE(child_record.deleted);
  EXPECT_TRUE(child_record.final_aborted);
}

}  // namespace
}  // namespace vexalo
