#include "base/runtime/signalthread.h"

#include "base/runtime/backgroundworker.h"
#include "base/runtime/loopthread.h"
#include "base/runtime/threadregistry.h"

namespace vexalo {

class SignalThread::Worker : public BackgroundWorker {
 public:
  explicit Worker(SignalThread* parent)
      : BackgroundWorker(parent, kMessageWorkDone, parent->owner_queue_), parent_(parent) {}

 private:
  // The parent outlives the worker's thread: it only goes away after the completion arrived.
  void DoWork() override { parent_->DoWork(); }

  SignalThread* parent_;
};

SignalThread::SignalThread() : owner_queue_(ThreadRegistry::Current()) {}

SignalThread::~SignalThread() = default;

void SignalThread::Start() {
  if (worker_) return;
  worker_ = new Worker(this);
  worker_->Start();
}

void SignalThread::Cancel() {
  if (worker_) worker_->Cancel();
}

bool SignalThread::IsCancelled() const { return worker_ && worker_->IsCancelled(); }

void SignalThread::Destroy() {
  if (destroy_requested_) return;
  destroy_requested_ = true;
  Cancel();
  if (!worker_) owner_queue_->Post(this, kMessageDestroy);
}

void SignalThread::OnWorkDone() {
  if (!destroy_requested_) WorkDone.Emit(this);
}

void SignalThread::HandleMessage(QueuedMessage* msg) {
  delete msg->payload;  // the worker's completion reference
  msg->payload = nullptr;
  if (msg->id == kMessageWorkDone) {
    if (worker_) {
      worker_->Release();
      worker_ = nullptr;
    }
    if (destroy_requested_) {
      delete this;
    } else {
      OnWorkDone();
    }
  } else if (msg->id == kMessageDestroy) {
    delete this;
  }
}

}  // namespace vexalo
