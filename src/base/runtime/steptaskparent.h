#pragma once

#include <set>

namespace vexalo {

class StepTask;
class StepTaskRunner;

// A node of a task tree: the runner at the root, tasks below it. Knows its live children so
// that stopping a node can abort everything started beneath it.
class StepTaskParent {
 public:
  // A task node under `parent`, which must not be null; the task joins it itself.
  explicit StepTaskParent(StepTaskParent* parent);
  virtual ~StepTaskParent() = default;
  StepTaskParent(const StepTaskParent&) = delete;
  StepTaskParent& operator=(const StepTaskParent&) = delete;

  StepTaskParent* parent() const { return parent_; }
  StepTaskRunner* runner() const { return runner_; }
  // Set once a child stopped in STATE_ERROR.
  bool child_error() const { return child_error_; }
  const std::set<StepTask*>& children() const { return children_; }

  // The nearest ancestor that answers `code`, or null. A task class that wants to be found
  // by its descendants overrides this to return itself for its own code.
  virtual StepTask* FindAncestor(int code);

  void AddChild(StepTask* child);
  // Called from a child's Stop: the child leaves the live set, remembering a failure.
  void OnChildStopped(StepTask* child);
  // Aborts every live child (without waking the runner: the caller is stopping anyway).
  void AbortAllChildren();

 protected:
  // The root of a tree: the runner itself.
  explicit StepTaskParent(StepTaskRunner* self);

  void ClearChildError() { child_error_ = false; }
  // Whether this node is still in its parent's live set (it is until it stopped).
  bool in_parent() const { return in_parent_; }
  // Leaves the parent's live set without reporting a result, for a task that dies unstopped.
  void LeaveParent();

 private:
  StepTaskParent* parent_;
  StepTaskRunner* runner_;
  bool child_error_ = false;
  bool in_parent_ = false;
  std::set<StepTask*> children_;
};

}  // namespace vexalo
