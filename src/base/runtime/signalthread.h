#pragma once

#include <cstdint>

#include "base/runtime/queuedmessage.h"
#include "base/runtime/signal.h"

namespace vexalo {

class EventQueue;

// Runs DoWork once on a worker thread and reports back on the owner thread (the thread that
// made it) through OnWorkDone and the WorkDone signal. Destroy it with Destroy, never delete:
// a running worker is left to finish and the object goes away when it reports.
class SignalThread : public MessageTarget {
 public:
  static constexpr uint32_t kMessageWorkDone = 1957;
  static constexpr uint32_t kMessageDestroy = 1958;

  SignalThread();
  SignalThread(const SignalThread&) = delete;
  SignalThread& operator=(const SignalThread&) = delete;

  void Start();
  // Asks a running DoWork to stop early (it polls IsCancelled).
  virtual void Cancel();
  // Requests destruction; no WorkDone is emitted after this.
  void Destroy();

  bool IsCancelled() const;
  bool IsRunning() const { return worker_ != nullptr; }

  Signal<SignalThread*> WorkDone;

 protected:
  ~SignalThread() override;
  // Runs on the worker thread.
  virtual void DoWork() = 0;
  // Runs on the owner thread when DoWork has finished.
  virtual void OnWorkDone();

  void HandleMessage(QueuedMessage* msg) override;

 private:
  class Worker;

  EventQueue* owner_queue_;
  Worker* worker_ = nullptr;
  bool destroy_requested_ = false;
};

}  // namespace vexalo
