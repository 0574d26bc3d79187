#pragma once

#include <string>
#include <vector>

#include "base/runtime/signal.h"
#include "p2p/base/candidate.h"

namespace vexalo {

class Port;

// The ports of one P2P socket generation: which exist, when they come up and when their
// candidates may be signalled. Created by a `PortAllocator`, driven by the P2P socket.
class AllocatorSession : public SlotHost {
 public:
  AllocatorSession(std::string name, int generation);
  ~AllocatorSession() override;
  AllocatorSession(const AllocatorSession&) = delete;
  AllocatorSession& operator=(const AllocatorSession&) = delete;

  const std::string& name() const { return name_; }
  int generation() const { return generation_; }

  // Starts on the calling thread, which becomes the session's thread.
  virtual void GetInitialPorts() = 0;
  virtual void StartGetAllPorts() = 0;
  virtual void StopGetAllPorts() = 0;
  virtual bool IsGettingAllPorts() const = 0;

  Signal<AllocatorSession*, Port*> PortReady;
  Signal<AllocatorSession*, const std::vector<Candidate>&> CandidatesReady;

 private:
  std::string name_;
  int generation_;
};

}  // namespace vexalo
