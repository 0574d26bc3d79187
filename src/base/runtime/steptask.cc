#include "base/runtime/steptask.h"

#include "base/runtime/steptaskrunner.h"

namespace vexalo {

StepTask::StepTask(StepTaskParent* parent) : StepTaskParent(parent) { parent->AddChild(this); }

StepTask::~StepTask() {
  // Only a task that was never started (and so never stopped) can still be in the tree.
  if (in_parent()) {
    AbortAllChildren();
    LeaveParent();
  }
}

const char* StepTask::StateName(int state) const {
  switch (state) {
    case STATE_INIT:
      return "INIT";
    case STATE_START:
      return "START";
    case STATE_DONE:
      return "DONE";
    case STATE_ERROR:
      return "ERROR";
    case STATE_RESPONSE:
      return "RESPONSE";
    case STATE_BLOCKED:
      return "BLOCKED";
    default:
      return "??";
  }
}

int StepTask::Process(int state) {
  switch (state) {
    case STATE_INIT:
      return STATE_START;
    case STATE_START:
      return ProcessStart();
    case STATE_RESPONSE:
      return ProcessResponse();
    case STATE_DONE:
    case STATE_ERROR:
      return STATE_BLOCKED;
    default:
      return STATE_ERROR;
  }
}

void StepTask::Stop() {
  AbortAllChildren();
  parent()->OnChildStopped(this);
}

void StepTask::Start() {
  if (started_ || state_ != STATE_INIT) return;
  started_ = true;
  runner()->StartTask(this);
  start_time_ = runner()->CurrentTime();
}

void StepTask::Wake() {
  if (done_ || !blocked_) return;
  blocked_ = false;
  runner()->WakeTasks();
}

void StepTask::Error() {
  if (error_ || done_) return;
  error_ = true;
  Wake();
}

void StepTask::Abort(bool no_wake) {
  if (aborted_ || done_) return;
  aborted_ = true;
  // From inside Process: Step completes the abort once Process returns.
  if (busy_) return;
  Finish();
  // The runner deletes finished tasks at its next RunTasks.
  if (!no_wake) runner()->WakeTasks();
}

void StepTask::StepUntilBlocked() {
  if (busy_) return;
  while (!blocked_ && !done_) Step();
}

int64_t StepTask::ElapsedTime() const { return runner()->CurrentTime() - start_time_; }

void StepTask::Finish() {
  done_ = true;
  blocked_ = true;
  error_ = true;
  Stop();
}

void StepTask::Step() {
  if (done_) {
    blocked_ = true;
    return;
  }
  if (error_) {
    done_ = true;
    state_ = STATE_ERROR;
    blocked_ = true;
    Stop();
    return;
  }

  busy_ = true;
  int new_state = Process(state_);
  busy_ = false;

  if (aborted_) {
    Finish();
    return;
  }

  if (new_state == STATE_BLOCKED) {
    // An Error raised during Process could not wake the running task; handle it now
    // instead of leaving the task asleep with the error pending.
    blocked_ = !error_;
  } else {
    state_ = new_state;
    blocked_ = false;
    if (new_state == STATE_DONE) done_ = true;
    if (new_state == STATE_ERROR) {
      error_ = true;
      done_ = true;
    }
  }

  if (done_) {
    Stop();
    blocked_ = true;
  }
}

}  // namespace vexalo
