#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/net/packetsocket.h"
#include "base/net/sockethub.h"
#include "base/runtime/eventqueue.h"
#include "base/runtime/timeutils.h"

namespace vexalo {

// One client's allocation: a UDP socket on the relay that peers send to, the way back to the
// client, and the destination it may be locked to. Traffic both ways shares one byte budget
// per second.
class RelayAllocation : public SlotHost {
 public:
  RelayAllocation(EventQueue* queue, PacketSocket* client_socket, const SocketAddress& client,
                  const std::string& username, const std::string& magic_cookie,
                  uint32_t bytes_per_second, bool allow_loopback_peers);
  ~RelayAllocation() override;
  RelayAllocation(const RelayAllocation&) = delete;
  RelayAllocation& operator=(const RelayAllocation&) = delete;

  // Binds the relayed socket on `ip`; the address peers see is `public_ip` with its port.
  bool Open(SocketHub* hub, uint32_t ip, uint32_t public_ip);

  const std::string& username() const { return username_; }
  const std::string& magic_cookie() const { return magic_cookie_; }
  const SocketAddress& relayed_address() const { return relayed_address_; }
  const SocketAddress& client() const { return client_; }
  PacketSocket* client_socket() const { return client_socket_; }
  const SocketAddress& locked_destination() const { return locked_; }
  bool locked() const { return locked_.ip() != 0; }
  Tick last_activity() const { return last_activity_; }
  void Touch(Tick now) { last_activity_ = now; }
  uint64_t dropped() const { return dropped_; }

  // Locks to `destination` unless already locked to another one; whether it is locked to it.
  bool Lock(const SocketAddress& destination);
  // Client to peer. False when the destination is refused or the budget is spent.
  bool SendToPeer(const char* data, size_t size, const SocketAddress& destination);
  void SendToClient(const char* data, size_t size);

 private:
  void OnPeerPacket(const char* data, size_t size, const SocketAddress& from,
                    PacketSocket* socket);
  bool Spend(size_t size);
  bool PeerAllowed(const SocketAddress& peer) const;

  EventQueue* queue_;
  PacketSocket* client_socket_;
  SocketAddress client_;
  std::string username_;
  std::string magic_cookie_;
  uint32_t bytes_per_second_;
  bool allow_loopback_peers_;
  std::unique_ptr<PacketSocket> relayed_;
  SocketAddress relayed_address_;
  SocketAddress locked_;
  Tick last_activity_ = 0;
  // Token bucket: up to one second's worth saved up.
  double budget_ = 0;
  Tick budget_at_ = 0;
  uint64_t dropped_ = 0;
};

}  // namespace vexalo
