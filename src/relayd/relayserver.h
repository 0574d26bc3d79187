#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "base/net/eventsocket.h"
#include "base/net/packetsocket.h"
#include "base/runtime/eventqueue.h"
#include "relayd/relayallocation.h"
#include "relayd/relaylimits.h"
#include "relayd/relaysessionstore.h"

namespace vexalo {

class StunPacket;

// The relay: takes allocations over UDP, TCP and SSL-TCP, forwards Send Requests to peers,
// hands peer packets back in Data Indications or, once locked, unframed. Runs on one queue.
class RelayServer : public MessageTarget, public SlotHost {
 public:
  static constexpr uint32_t kSweepMessage = 1;
  static constexpr int kSweepIntervalMs = 10000;
  // A stream client that has not allocated within this time is dropped.
  static constexpr int kHandshakeTimeoutMs = 30000;

  struct Stats {
    uint64_t packets_in = 0;
    uint64_t rejected = 0;  // not STUN, wrong credentials, unknown allocation, over a limit
    uint64_t relayed = 0;
  };

  RelayServer(EventQueue* queue, RelaySessionStore* sessions, const RelayLimits& limits);
  ~RelayServer() override;

  // Port 0 picks a free one; a listener not asked for stays closed. False on a bind failure.
  bool Start(uint32_t listen_ip, uint32_t public_ip, int udp_port, int tcp_port,
             int ssltcp_port);

  int udp_port() const { return udp_port_; }
  int tcp_port() const { return tcp_port_; }
  int ssltcp_port() const { return ssltcp_port_; }
  size_t allocation_count() const { return allocations_.size(); }
  size_t connection_count() const { return connections_.size(); }
  const Stats& stats() const { return stats_; }

  void HandleMessage(QueuedMessage* msg) override;
  // One packet from a client, as its socket delivered it; public for the fuzz target.
  void OnClientPacket(const char* data, size_t size, const SocketAddress& from,
                      PacketSocket* socket);

 private:
  using Key = std::pair<PacketSocket*, SocketAddress>;
  struct StreamClient {
    std::unique_ptr<PacketSocket> socket;
    Tick since = 0;
  };

  EventSocket* Listen(int port, int* bound_port);
  void OnAccept(EventSocket* listener);
  void OnStreamClose(PacketSocket* socket, int error);
  void DropConnection(PacketSocket* socket);
  void HandleAllocate(const StunPacket& request, const Key& key);
  void HandleSend(const StunPacket& request, RelayAllocation* allocation);
  void SendError(const StunPacket& request, const Key& key, const std::string& cookie, int code,
                 const char* reason);
  void Reply(const StunPacket& answer, const Key& key);
  size_t AllocationsOf(uint32_t ip) const;
  size_t ConnectionsOf(uint32_t ip) const;
  void Sweep();

  EventQueue* queue_;
  RelaySessionStore* sessions_;
  RelayLimits limits_;
  uint32_t listen_ip_ = 0;
  uint32_t public_ip_ = 0;
  std::unique_ptr<PacketSocket> udp_;
  std::unique_ptr<EventSocket> tcp_listener_;
  std::unique_ptr<EventSocket> ssltcp_listener_;
  int udp_port_ = 0;
  int tcp_port_ = 0;
  int ssltcp_port_ = 0;
  std::map<PacketSocket*, StreamClient> connections_;
  std::map<Key, std::unique_ptr<RelayAllocation>> allocations_;
  std::map<PacketSocket*, std::unique_ptr<PacketSocket>> closing_;
  Stats stats_;
};

}  // namespace vexalo
