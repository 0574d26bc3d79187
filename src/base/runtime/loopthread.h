#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "base/runtime/eventqueue.h"

namespace vexalo {

// An EventQueue with an OS thread that runs it, and synchronous cross-thread calls.
class LoopThread : public EventQueue {
 public:
  explicit LoopThread(SocketHub* hub = nullptr);
  ~LoopThread() override;

  // Sets the stop flag, wakes the loop and joins the OS thread (when called from another
  // thread; from its own thread it only sets the flag).
  void Stop() override;

  // Creates the OS thread, which runs Run(kWaitForever). False if it could not be created.
  virtual bool Start();
  virtual void Run(int ms);
  // Calls target->HandleMessage on this thread and returns when it has run (or was released
  // because the target or this thread went away). On this thread itself it calls at once.
  virtual void Invoke(MessageTarget* target, uint32_t id = 0, MessagePayload* payload = nullptr);

  void Join();
  // Gets and dispatches messages for `ms` milliseconds (kWaitForever: until stopped).
  void RunFor(int ms);

  bool IsCurrent() const;
  bool IsStarted() const { return started_; }
  void SetName(std::string name) { name_ = std::move(name); }
  const std::string& name() const { return name_; }

 private:
  bool started_ = false;
  std::thread os_thread_;
  std::string name_;
};

// Gives the calling OS thread a LoopThread for the object's lifetime, unless it already has
// one. Worker threads that need sockets create one on their stack.
class AdoptedThread : public LoopThread {
 public:
  explicit AdoptedThread(SocketHub* hub = nullptr);
  ~AdoptedThread() override;
};

}  // namespace vexalo
