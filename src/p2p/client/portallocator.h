#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/proxy/proxysettings.h"
#include "base/runtime/eventqueue.h"
#include "p2p/client/allocatorsession.h"
#include "p2p/client/networklist.h"
#include "p2p/client/portconfiguration.h"

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

  PortAllocator() = default;
  // `worker`: the thread whose sessions make and run the ports.
  explicit PortAllocator(EventQueue* worker, bool include_loopback = false)
      : worker_(worker), networks_(include_loopback) {}
  virtual ~PortAllocator() = default;

  virtual std::unique_ptr<AllocatorSession> CreateSession(const std::string& name,
                                                          int generation) = 0;

  uint32_t flags() const { return flags_; }
  void SetFlags(uint32_t flags) { flags_ = flags; }
  // The earliest phase (0 UDP, 1 relay, 2 TCP, 3 SSL-TCP) that ever gave a writable
  // connection, -1 until one did; later sessions start the phases up to it at once.
  int best_phase() const { return best_phase_; }
  void NoteWritablePhase(int phase);

  void SetProxy(const std::string& user_agent, const ProxySettings& proxy) {
    user_agent_ = user_agent;
    proxy_ = proxy;
  }
  const std::string& user_agent() const { return user_agent_; }
  const ProxySettings& proxy() const { return proxy_; }
  // TURN servers offered when the service's own relay is not to be had (from the user's
  // server's external service discovery).
  void SetTurnServers(std::vector<TurnServerEntry> servers) { turn_servers_ = std::move(servers); }
  const std::vector<TurnServerEntry>& turn_servers() const { return turn_servers_; }
  EventQueue* worker() const { return worker_; }
  NetworkList* network_list() { return &networks_; }

 private:
  uint32_t flags_ = 0;
  int best_phase_ = -1;
  EventQueue* worker_ = nullptr;
  NetworkList networks_;
  std::string user_agent_;
  ProxySettings proxy_;
  std::vector<TurnServerEntry> turn_servers_;
};

}  // namespace vexalo
