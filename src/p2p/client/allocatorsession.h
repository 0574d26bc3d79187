#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/runtime/eventqueue.h"
#include "base/runtime/signal.h"
#include "p2p/base/candidate.h"
#include "p2p/base/network.h"
#include "p2p/client/portconfiguration.h"

namespace vexalo {

class AllocationRun;
class Connection;
class Port;
class PortAllocator;

// The ports of one P2P socket generation: which exist, when they come up and when their
// candidates may be signalled. Created by a `PortAllocator`, driven by the P2P socket.
// Per local network an `AllocationRun` brings the port kinds up in phases one second apart.
class AllocatorSession : public MessageTarget, public SlotHost {
 public:
  static constexpr uint32_t kGetConfigurationsMessage = 1;
  static constexpr uint32_t kConfigurationReadyMessage = 2;
  static constexpr uint32_t kAllocateMessage = 3;
  // New networks are looked for this often while all ports are wanted.
  static constexpr int kAllocateIntervalMs = 250;

  // A session that makes no ports (stand-ins in tests).
  AllocatorSession(std::string name, int generation);
  AllocatorSession(PortAllocator* allocator, std::string name, int generation);
  ~AllocatorSession() override;
  AllocatorSession(const AllocatorSession&) = delete;
  AllocatorSession& operator=(const AllocatorSession&) = delete;

  const std::string& name() const { return name_; }
  int generation() const { return generation_; }

  // Starts on the allocator's worker thread, which becomes the session's thread.
  virtual void GetInitialPorts();
  virtual void StartGetAllPorts();
  virtual void StopGetAllPorts();
  virtual bool IsGettingAllPorts() const { return running_; }

  Signal<AllocatorSession*, Port*> PortReady;
  Signal<AllocatorSession*, const std::vector<Candidate>&> CandidatesReady;

  void HandleMessage(QueuedMessage* msg) override;

  PortAllocator* allocator() const { return allocator_; }
  EventQueue* thread() const { return thread_; }
  bool configured() const { return configured_; }
  const std::vector<std::unique_ptr<AllocationRun>>& runs() const { return runs_; }
  size_t port_count() const { return ports_.size(); }
  Port* port(size_t index) const { return ports_[index].port; }

  // For the runs.
  void AddPort(Port* port, AllocationRun* run, float preference, bool prepare);
  void OnProtocolEnabled(AllocationRun* run, int protocol);

 protected:
  // Obtains the servers and credentials; the result arrives through ConfigurationReady. By
  // default a configuration with the allocator's TURN servers only.
  virtual void GetPortConfigurations();
  // Hands a configuration to the session's thread.
  void ConfigurationReady(std::unique_ptr<PortConfiguration> configuration);

 private:
  struct PortEntry {
    Port* port;
    AllocationRun* run;
    bool ready;
  };

  void Allocate();
  void OnAddressReady(Port* port);
  void OnConnectionCreated(Port* port, Connection* connection);
  void OnConnectionStateChanged(Connection* connection);
  void OnPortDestroyed(Port* port);
  void SignalCandidates(Port* port, AllocationRun* run, int only_protocol);

  PortAllocator* allocator_ = nullptr;
  std::string name_;
  int generation_;
  EventQueue* thread_ = nullptr;
  std::vector<std::unique_ptr<PortConfiguration>> configurations_;
  std::vector<std::unique_ptr<AllocationRun>> runs_;
  std::vector<PortEntry> ports_;
  bool running_ = false;
  bool configured_ = false;
};

}  // namespace vexalo
