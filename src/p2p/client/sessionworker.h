#pragma once

#include "base/runtime/loopthread.h"

namespace vexalo {

// The worker thread of the P2P sockets. It asks for a raised scheduling priority, because
// connectivity checks and media are timing-sensitive; a refusal is not an error.
class SessionWorker : public LoopThread {
 public:
  static constexpr int kNiceness = -10;

  SessionWorker();
  ~SessionWorker() override;

  void Run(int ms) override;
  // Whether the raised priority was granted (known once the thread runs).
  bool raised() const { return raised_; }

 private:
  std::atomic<bool> raised_{false};
};

}  // namespace vexalo
