#pragma once

#include <atomic>
#include <mutex>
#include <vector>

namespace vexalo {

class LoopThread;

// Knows the main thread's LoopThread, every live LoopThread, and which one is current on the
// calling OS thread.
class ThreadRegistry {
 public:
  static ThreadRegistry& Instance();

  // The calling thread's LoopThread, or null.
  static LoopThread* Current();
  static void SetCurrent(LoopThread* thread);

  // The main (UI) thread's LoopThread, created during static initialisation and never deleted.
  LoopThread* MainThread();

  void Add(LoopThread* thread);
  void Remove(LoopThread* thread);
  size_t Count();

 private:
  ThreadRegistry() = default;

  std::once_flag main_once_;
  std::atomic<LoopThread*> main_thread_{nullptr};
  std::mutex lock_;
  std::vector<LoopThread*> threads_;
};

}  // namespace vexalo
