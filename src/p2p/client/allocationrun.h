#pragma once

#include <vector>

#include "base/runtime/eventqueue.h"
#include "p2p/base/network.h"
#include "p2p/client/portconfiguration.h"

namespace vexalo {

class AllocatorSession;

// Brings up the ports of one session on one local network in four phases (UDP, relay, TCP,
// SSL-TCP), one step a second; phases that once gave a writable connection start at once.
class AllocationRun : public MessageTarget {
 public:
  static constexpr uint32_t kStepMessage = 4;
  static constexpr int kStepIntervalMs = 1000;
  enum Phase { PHASE_UDP = 0, PHASE_RELAY = 1, PHASE_TCP = 2, PHASE_SSLTCP = 3, kPhaseCount = 4 };

  // Runs step 0 at once. `config` may be null.
  AllocationRun(AllocatorSession* session, const Network* network,
                const PortConfiguration* config);
  ~AllocationRun() override;

  void Start();
  void Stop();
  void HandleMessage(QueuedMessage* msg) override;

  const Network* network() const { return network_; }
  uint32_t ip() const { return ip_; }
  bool running() const { return running_; }
  int phase_step(int phase) const { return phase_steps_[phase]; }
  bool ProtocolEnabled(int protocol) const;

 private:
  void Step();
  void EnableProtocol(int protocol);

  AllocatorSession* session_;
  const Network* network_;
  uint32_t ip_;
  const PortConfiguration* config_;
  bool running_ = false;
  int step_ = 0;
  int phase_steps_[kPhaseCount];
  std::vector<int> protocols_;
};

}  // namespace vexalo
