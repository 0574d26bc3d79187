#include "base/runtime/queueregistry.h"

#include <algorithm>

#include "base/runtime/eventqueue.h"

namespace vexalo {

QueueRegistry& QueueRegistry::Instance() {
  // Never destroyed: message targets with static storage may die after any other static.
  static QueueRegistry* instance = new QueueRegistry();
  return *instance;
}

void QueueRegistry::Add(EventQueue* queue) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  queues_.push_back(queue);
}

void QueueRegistry::Remove(EventQueue* queue) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  queues_.erase(std::remove(queues_.begin(), queues_.end(), queue), queues_.end());
}

void QueueRegistry::Clear(MessageTarget* target) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  // Index loop: a payload destroyed by Clear may create or destroy queues.
  for (size_t i = 0; i < queues_.size(); ++i) queues_[i]->Clear(target, kAnyMessageId);
}

MessageTarget::~MessageTarget() { QueueRegistry::Instance().Clear(this); }

}  // namespace vexalo
