#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "base/runtime/queuedmessage.h"

namespace vexalo {

class EventQueue;
class BackgroundWorker;

// The payload of a worker's completion message. It holds a reference, so the worker stays
// valid for as long as the message exists, even if the owner released it meanwhile.
class WorkerCompletion : public MessagePayload {
 public:
  ~WorkerCompletion() override;
  BackgroundWorker* worker() const { return worker_; }

 private:
  friend class BackgroundWorker;
  // Adopts a reference the worker has already taken for it.
  explicit WorkerCompletion(BackgroundWorker* worker) : worker_(worker) {}

  BackgroundWorker* worker_;
};

// A job that runs DoWork on a short-lived thread of its own and then posts a completion
// message (`message_id`, payload WorkerCompletion) to its owner on the owner's thread. The owner
// calls Release when it no longer needs the job; after that a still running thread neither
// posts nor touches the owner. The job deletes itself when the thread and the owner have both
// let go. An owner must Release its jobs before it dies.
class BackgroundWorker {
 public:
  // The owner's queue is the calling thread's LoopThread unless given.
  BackgroundWorker(MessageTarget* owner, uint32_t message_id, EventQueue* owner_queue = nullptr);
  BackgroundWorker(const BackgroundWorker&) = delete;
  BackgroundWorker& operator=(const BackgroundWorker&) = delete;

  // Starts the thread. If it cannot be created the completion is posted at once and false is
  // returned.
  bool Start();
  // Owner thread: forget the owner and drop the owner's reference.
  void Release();
  // Asks a running DoWork to finish early; DoWork implementations poll IsCancelled.
  void Cancel() { cancelled_ = true; }
  bool IsCancelled() const { return cancelled_; }
  bool IsDone();

 protected:
  virtual ~BackgroundWorker() = default;
  // Runs on the worker thread.
  virtual void DoWork() = 0;
  // Called under the worker's lock when the owner lets go.
  virtual void OnAbandon() {}

 private:
  friend class WorkerCompletion;

  void DropRef();
  void PostCompletionLocked();
  void ThreadBody();

  std::mutex lock_;
  int references_ = 1;  // the owner's
  bool done_ = false;
  bool started_ = false;
  std::atomic<bool> cancelled_{false};
  MessageTarget* owner_;
  uint32_t message_id_;
  EventQueue* owner_queue_;
};

}  // namespace vexalo
