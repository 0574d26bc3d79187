#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "p2p/client/allocatorsession.h"

namespace vexalo {

// Decides which ports a P2P socket gets; one per signed-in account, used on the worker thread.
class PortAllocator {
 public:
  enum Flags : uint32_t {
    kDisableUdp = 1,
    kDisableStun = 2,
    kDisableRelay = 4,
    kDisableTcp = 8,
  };

  virtual ~PortAllocator() = default;

  virtual std::unique_ptr<AllocatorSession> CreateSession(const std::string& name,
                                                          int generation) = 0;

  uint32_t flags() const { return flags_; }
  void SetFlags(uint32_t flags) { flags_ = flags; }
  // The earliest phase (0 UDP, 1 relay, 2 TCP, 3 SSL-TCP) that ever gave a writable
  // connection, -1 until one did; later sessions start the phases up to it at once.
  int best_phase() const { return best_phase_; }
  void NoteWritablePhase(int phase);

 private:
  uint32_t flags_ = 0;
  int best_phase_ = -1;
};

}  // namespace vexalo
