#pragma once

// Test fixture only: an allocator whose sessions bring up real ports on one local address
// (127.0.0.1 unless told otherwise), a UDP port
// at once and a TCP port once the socket asks for all ports. The service's allocator (STUN,
// relay, phases) takes its place in the application.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/runtime/eventqueue.h"
#include "p2p/base/tcpport.h"
#include "p2p/base/udpport.h"
#include "p2p/client/allocatorsession.h"
#include "p2p/client/portallocator.h"

namespace vexalo {

class LoopbackAllocatorSession : public AllocatorSession {
 public:
  LoopbackAllocatorSession(const std::string& name, int generation, EventQueue* thread,
                           SocketHub* hub, uint32_t ip, uint32_t flags,
                           std::vector<Port*>* all_ports)
      : AllocatorSession(name, generation),
        ip_(ip),
        thread_(thread),
        hub_(hub),
        flags_(flags),
        all_ports_(all_ports) {}
  ~LoopbackAllocatorSession() override {
    for (Port* port : ports_) {
      std::erase(*all_ports_, port);
      port->Destroyed.Disconnect(this);
      delete port;
    }
  }

  void GetInitialPorts() override {
    if (!(flags_ & PortAllocator::kDisableUdp)) {
      AddPort(new UdpPort(thread_, hub_, Network{"lo", ip_}, SocketAddress(ip_, 0)), 1.0f);
    }
  }
  void StartGetAllPorts() override {
    getting_all_ = true;
    if (!(flags_ & PortAllocator::kDisableTcp) && !tcp_started_) {
      tcp_started_ = true;
      AddPort(new TcpPort(thread_, hub_, Network{"lo", ip_}, SocketAddress(ip_, 0)), 0.5f);
    }
  }
  void StopGetAllPorts() override { getting_all_ = false; }
  bool IsGettingAllPorts() const override { return getting_all_; }

  const std::vector<Port*>& ports() const { return ports_; }

 private:
  void AddPort(Port* port, float preference) {
    port->SetName(name());
    port->SetGeneration(static_cast<uint32_t>(generation()));
    port->SetPreference(preference);
    port->Destroyed.Connect(this, [this](Port* gone) {
      std::erase(ports_, gone);
      std::erase(*all_ports_, gone);
    });
    ports_.push_back(port);
    all_ports_->push_back(port);
    port->PrepareAddress();
    port->Start();
    PortReady(this, port);
    CandidatesReady(this, port->candidates());
  }

  uint32_t ip_;
  EventQueue* thread_;
  SocketHub* hub_;
  uint32_t flags_;
  std::vector<Port*>* all_ports_;
  std::vector<Port*> ports_;
  bool getting_all_ = false;
  bool tcp_started_ = false;
};

class LoopbackAllocator : public PortAllocator {
 public:
  // With a null hub, ports use the thread's.
  explicit LoopbackAllocator(EventQueue* thread, SocketHub* hub = nullptr,
                             uint32_t ip = 0x7F000001)
      : thread_(thread), hub_(hub), ip_(ip) {}

  std::unique_ptr<AllocatorSession> CreateSession(const std::string& name,
                                                  int generation) override {
    ++sessions_created_;
    return std::make_unique<LoopbackAllocatorSession>(name, generation, thread_, hub_, ip_, flags(),
                                                      &ports_);
  }

  int sessions_created() const { return sessions_created_; }
  // Every live port of every session, in creation order.
  const std::vector<Port*>& ports() const { return ports_; }

 private:
  EventQueue* thread_;
  SocketHub* hub_;
  uint32_t ip_;
  int sessions_created_ = 0;
  std::vector<Port*> ports_;
};

}  // namespace vexalo
