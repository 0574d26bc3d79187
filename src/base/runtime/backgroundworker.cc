#include "base/runtime/backgroundworker.h"

#include <system_error>
#include <thread>

#include "base/runtime/loopthread.h"
#include "base/runtime/threadregistry.h"

namespace vexalo {

WorkerCompletion::~WorkerCompletion() { worker_->DropRef(); }

BackgroundWorker::BackgroundWorker(MessageTarget* owner, uint32_t message_id,
                                   EventQueue* owner_queue)
    : owner_(owner),
      message_id_(message_id),
      owner_queue_(owner_queue ? owner_queue : ThreadRegistry::Current()) {}

bool BackgroundWorker::Start() {
  std::lock_guard<std::mutex> hold(lock_);
  if (started_) return false;
  started_ = true;
  ++references_;  // the thread's
  try {
    std::thread(&BackgroundWorker::ThreadBody, this).detach();
  } catch (const std::system_error&) {
    --references_;
    done_ = true;
    PostCompletionLocked();
    return false;
  }
  return true;
}

void BackgroundWorker::ThreadBody() {
  DoWork();
  {
    std::lock_guard<std::mutex> hold(lock_);
    done_ = true;
    PostCompletionLocked();
  }
  DropRef();
}

void BackgroundWorker::PostCompletionLocked() {
  if (owner_ && owner_queue_) {
    // The payload's reference is taken here, under our lock, before the owner can release.
    ++references_;
    owner_queue_->Post(owner_, message_id_, new WorkerCompletion(this));
  }
}

void BackgroundWorker::Release() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    OnAbandon();
    owner_ = nullptr;
    owner_queue_ = nullptr;
  }
  DropRef();
}

bool BackgroundWorker::IsDone() {
  std::lock_guard<std::mutex> hold(lock_);
  return done_;
}

void BackgroundWorker::DropRef() {
  bool last;
  {
    std::lock_guard<std::mutex> hold(lock_);
    last = --references_ == 0;
  }
  if (last) delete this;
}

}  // namespace vexalo
