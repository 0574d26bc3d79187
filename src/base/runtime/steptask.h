#pragma once

#include <cstdint>

#include "base/runtime/steptaskparent.h"

namespace vexalo {

// A cooperative state machine run by a StepTaskRunner. The runner calls Process with the
// current state; Process returns the next state, or STATE_BLOCKED to wait for Wake. A task
// that finishes (STATE_DONE, STATE_ERROR, Error or Abort) aborts its children, tells its
// parent, and is deleted by the runner. Everything happens on the runner's thread.
//
// Ownership: once started, a task belongs to the runner and nobody else may delete it. A
// task that is never started belongs to its creator; deleting it aborts its children and
// takes it out of its parent.
class StepTask : public StepTaskParent {
 public:
  enum : int {
    // Only ever returned by Process, never stored as a state.
    STATE_BLOCKED = -1,
    STATE_INIT = 0,
    STATE_START = 1,
    STATE_DONE = 2,
    STATE_ERROR = 3,
    STATE_RESPONSE = 4,
    // Subclasses number their own states from here.
    STATE_NEXT = 5,
  };

  // Joins `parent` (a task or the runner; never null) at once.
  explicit StepTask(StepTaskParent* parent);
  ~StepTask() override;

  // Called every poll interval while the task is not done; tasks with time-outs compare
  // ElapsedTime with their limit here and Wake themselves.
  virtual void Poll() {}
  // For logs. Subclasses name their own states and fall back to this.
  virtual const char* StateName(int state) const;
  // Default dispatch: INIT -> START -> ProcessStart, RESPONSE -> ProcessResponse, DONE and
  // ERROR block, anything else is an error.
  virtual int Process(int state);
  // Aborts the children and tells the parent. Called once, when the task finishes.
  virtual void Stop();
  virtual int ProcessStart() = 0;
  virtual int ProcessResponse() { return STATE_DONE; }

  // Hands the task to the runner, which steps it soon. Only the first call counts.
  void Start();
  // Lets a blocked task run again.
  void Wake();
  // Fails the task at its next step.
  void Error();
  // Finishes the task at once (or, from inside its own Process, as soon as Process returns),
  // with the error flag set. `no_wake` leaves waking the runner to the caller.
  void Abort(bool no_wake = false);
  // Steps the task here and now until it blocks or finishes, for work that cannot wait for
  // the runner (stanzas that arrived just before their connection went). No-op from inside
  // its own Process.
  void StepUntilBlocked();
  // Runner time since Start, in 100-ns units.
  int64_t ElapsedTime() const;

  int state() const { return state_; }
  bool blocked() const { return blocked_; }
  bool done() const { return done_; }
  bool aborted() const { return aborted_; }
  bool busy() const { return busy_; }
  bool error() const { return error_; }
  int64_t start_time() const { return start_time_; }

 private:
  friend class StepTaskRunner;

  // One step; only RunTasks calls it.
  void Step();
  void Finish();

  int state_ = STATE_INIT;
  bool blocked_ = false;
  bool done_ = false;
  bool aborted_ = false;
  bool busy_ = false;
  bool error_ = false;
  int64_t start_time_ = 0;
  // Guards against a second Start before the first step moved the state off INIT.
  bool started_ = false;
};

}  // namespace vexalo
