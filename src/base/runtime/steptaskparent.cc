#include "base/runtime/steptaskparent.h"

#include <vector>

#include "base/runtime/steptask.h"

namespace vexalo {

StepTaskParent::StepTaskParent(StepTaskParent* parent)
    : parent_(parent), runner_(parent->runner()) {}

StepTaskParent::StepTaskParent(StepTaskRunner* self) : parent_(nullptr), runner_(self) {}

StepTask* StepTaskParent::FindAncestor(int code) {
  return parent_ ? parent_->FindAncestor(code) : nullptr;
}

void StepTaskParent::AddChild(StepTask* child) {
  children_.insert(child);
  static_cast<StepTaskParent*>(child)->in_parent_ = true;
}

void StepTaskParent::OnChildStopped(StepTask* child) {
  if (child->state() == StepTask::STATE_ERROR) child_error_ = true;
  if (children_.erase(child) > 0) static_cast<StepTaskParent*>(child)->in_parent_ = false;
}

void StepTaskParent::AbortAllChildren() {
  if (children_.empty()) return;
  // Each child's Stop removes it from the live set, so walk a copy.
  std::vector<StepTask*> copy(children_.begin(), children_.end());
  for (StepTask* child : copy) child->Abort(true);
}

void StepTaskParent::LeaveParent() {
  if (!in_parent_) return;
  in_parent_ = false;
  parent_->children_.erase(static_cast<StepTask*>(this));
}

}  // namespace vexalo
