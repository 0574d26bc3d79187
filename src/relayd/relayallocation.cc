#include "relayd/relayallocation.h"

#include "base/net/asyncudpsocket.h"
#include "base/net/eventsocket.h"
#include "p2p/base/stunpacket.h"
#include "p2p/base/wirebuffer.h"

namespace vexalo {

RelayAllocation::RelayAllocation(EventQueue* queue, PacketSocket* client_socket, const SocketAddress& client,
                                 const std::string& username, const std::string& magic_cookie,
                                 uint32_t bytes_per_second, bool allow_loopback_peers)
    : queue_(queue),
      client_socket_(client_socket),
      client_(client),
      username_(username),
      magic_cookie_(magic_cookie),
      bytes_per_second_(bytes_per_second),
      allow_loopback_peers_(allow_loopback_peers),
      budget_(bytes_per_second),
      budget_at_(queue->Now()) {}

RelayAllocation::~RelayAllocation() = default;

bool RelayAllocation::Open(SocketHub* hub, uint32_t ip, uint32_t public_ip) {
  EventSocket* socket = hub->CreateEventSocket(kDatagramSocket);
  if (!socket) return false;
  relayed_ = std::make_unique<AsyncUdpSocket>(socket);
  if (relayed_->Bind(SocketAddress(ip, 0)) < 0) return false;
  relayed_->ReadPacket.Connect(this, &RelayAllocation::OnPeerPacket);
  relayed_address_ = SocketAddress(public_ip, relayed_->GetLocalAddress().port());
  return true;
}

bool RelayAllocation::Lock(const SocketAddress& destination) {
  if (!locked()) locked_ = destination;
  return locked_ == destination;
}

bool RelayAllocation::PeerAllowed(const SocketAddress& peer) const {
  const uint32_t ip = peer.ip();
  if (peer.port() == 0 || (ip >> 24) == 0 || ip >= 0xE0000000) return false;  // 0/8, multicast
  if ((ip >> 24) == 127 && !allow_loopback_peers_) return false;
  return true;
}

bool RelayAllocation::Spend(size_t size) {
  const Tick now = queue_->Now();
  const double elapsed = static_cast<double>(TickDiff(now, budget_at_));
  budget_at_ = now;
  if (elapsed > 0) budget_ += elapsed * bytes_per_second_ / 1000.0;
  if (budget_ > bytes_per_second_) budget_ = bytes_per_second_;
  if (budget_ < static_cast<double>(size)) {
    ++dropped_;
    return false;
  }
  budget_ -= static_cast<double>(size);
  return true;
}

bool RelayAllocation::SendToPeer(const char* data, size_t size,
                                 const SocketAddress& destination) {
  if (!PeerAllowed(destination)) {
    ++dropped_;
    return false;
  }
  if (!Spend(size)) return false;
  return relayed_->SendTo(data, size, destination) >= 0;
}

void RelayAllocation::SendToClient(const char* data, size_t size) {
  client_socket_->SendTo(data, size, client_);
}

void RelayAllocation::OnPeerPacket(const char* data, size_t size, const SocketAddress& from,
                                   PacketSocket* socket) {
  (void)socket;
  // Peer traffic spends the budget but does not keep the allocation alive: only the client
  // does that, so a peer cannot pin an abandoned allocation.
  if (!Spend(size)) return;
  if (locked() && from == locked_) {
    SendToClient(data, size);
    return;
  }
  StunPacket indication;
  indication.SetType(STUN_DATA_INDICATION);
  auto cookie = StunPacket::CreateBytes(STUN_ATTR_MAGIC_COOKIE);
  cookie->CopyBytes(magic_cookie_);
  indication.Append(std::move(cookie));
  auto source = StunPacket::CreateAddress(STUN_ATTR_SOURCE_ADDRESS2);
  source->SetAddress(from);
  indication.Append(std::move(source));
  auto payload = StunPacket::CreateBytes(STUN_ATTR_DATA);
  if (!payload->CopyBytes(data, size) || !indication.Append(std::move(payload))) return;
  WireBuffer bytes;
  indication.Serialize(&bytes);
  SendToClient(bytes.Data(), bytes.Length());
}

}  // namespace vexalo
