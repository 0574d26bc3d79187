#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vexalo {

// What test threads tell each other: fields of a derived struct, changed under the lock with
// Update and waited for with WaitFor.
struct ThreadBoard {
  std::mutex lock;
  std::condition_variable changed;

  template <typename F>
  bool WaitFor(F ready, int ms = 10000) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::milliseconds(ms), ready);
  }
  template <typename F>
  void Update(F change) {
    {
      std::lock_guard<std::mutex> hold(lock);
      change();
    }
    changed.notify_all();
  }
};

}  // namespace vexalo
