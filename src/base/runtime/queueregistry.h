#pragma once

#include <mutex>
#include <vector>

#include "base/runtime/queuedmessage.h"

namespace vexalo {

class EventQueue;

// Every live EventQueue of the process, so that a dying MessageTarget can be removed from all
// of them. Lock order: this registry's lock, then a queue's lock.
class QueueRegistry {
 public:
  static QueueRegistry& Instance();

  void Add(EventQueue* queue);
  // Safe to call more than once for the same queue.
  void Remove(EventQueue* queue);
  // Removes every message aimed at `target` from every queue.
  void Clear(MessageTarget* target);

 private:
  QueueRegistry() = default;

  std::recursive_mutex lock_;
  std::vector<EventQueue*> queues_;
};

}  // namespace vexalo
