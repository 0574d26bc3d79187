#include "relayd/relayserver.h"

#include <cstring>

#include "base/net/asynctcpsocket.h"
#include "base/net/asyncudpsocket.h"
#include "base/runtime/logging.h"
#include "p2p/base/stunpacket.h"
#include "p2p/base/wirebuffer.h"
#include "relayd/sslhelloserveradapter.h"

namespace vexalo {

namespace {
constexpr uint32_t kDropClosedMessage = 2;
constexpr int kListenBacklog = 64;
constexpr uint32_t kOptionLock = 1;

std::unique_ptr<BytesAttr> CookieAttr(std::string_view cookie) {
  auto attr = StunPacket::CreateBytes(STUN_ATTR_MAGIC_COOKIE);
  attr->CopyBytes(cookie.data(), cookie.size());
  return attr;
}
}  // namespace

RelayServer::RelayServer(EventQueue* queue, RelaySessionStore* sessions,
                         const RelayLimits& limits)
    : queue_(queue), sessions_(sessions), limits_(limits) {}

RelayServer::~RelayServer() {
  allocations_.clear();
  connections_.clear();
  closing_.clear();
}

EventSocket* RelayServer::Listen(int port, int* bound_port) {
  EventSocket* socket = queue_->hub()->CreateEventSocket(kStreamSocket);
  if (!socket) return nullptr;
  if (socket->Bind(SocketAddress(listen_ip_, static_cast<uint16_t>(port))) < 0 ||
      socket->Listen(kListenBacklog) < 0) {
    LOG_ERR(kError, static_cast<uint32_t>(socket->GetError())) << "listen on port " << port;
    delete socket;
    return nullptr;
  }
  *bound_port = socket->GetLocalAddress().port();
  socket->ReadEvent.Connect(this, &RelayServer::OnAccept);
  return socket;
}

bool RelayServer::Start(uint32_t listen_ip, uint32_t public_ip, int udp_port, int tcp_port,
                        int ssltcp_port) {
  listen_ip_ = listen_ip;
  public_ip_ = public_ip ? public_ip : listen_ip;
  if (udp_port >= 0) {
    EventSocket* socket = queue_->hub()->CreateEventSocket(kDatagramSocket);
    if (!socket) return false;
    udp_ = std::make_unique<AsyncUdpSocket>(socket);
    if (udp_->Bind(SocketAddress(listen_ip, static_cast<uint16_t>(udp_port))) < 0) {
      LOG_ERR(kError, static_cast<uint32_t>(udp_->GetError())) << "bind udp port " << udp_port;
      return false;
    }
    udp_port_ = udp_->GetLocalAddress().port();
    udp_->ReadPacket.Connect(this, &RelayServer::OnClientPacket);
  }
  if (tcp_port >= 0) {
    tcp_listener_.reset(Listen(tcp_port, &tcp_port_));
    if (!tcp_listener_) return false;
  }
  if (ssltcp_port >= 0) {
    ssltcp_listener_.reset(Listen(ssltcp_port, &ssltcp_port_));
    if (!ssltcp_listener_) return false;
  }
  LOG(kInfo) << "Relay listening: udp " << udp_port_ << ", tcp " << tcp_port_ << ", ssltcp "
             << ssltcp_port_;
  queue_->PostAfter(kSweepIntervalMs, this, kSweepMessage);
  return true;
}

void RelayServer::HandleMessage(QueuedMessage* msg) {
  if (msg->id == kSweepMessage) {
    Sweep();
    queue_->PostAfter(kSweepIntervalMs, this, kSweepMessage);
  } else if (msg->id == kDropClosedMessage) {
    closing_.clear();
  }
}

size_t RelayServer::AllocationsOf(uint32_t ip) const {
  size_t count = 0;
  for (const auto& [key, allocation] : allocations_) count += key.second.ip() == ip;
  return count;
}

size_t RelayServer::ConnectionsOf(uint32_t ip) const {
  size_t count = 0;
  for (const auto& [socket, client] : connections_) {
    count += socket->GetRemoteAddress().ip() == ip;
  }
  return count;
}

void RelayServer::OnAccept(EventSocket* listener) {
  SocketAddress from;
  EventSocket* accepted = listener->Accept(&from);
  if (!accepted) return;
  if (connections_.size() >= limits_.max_connections ||
      ConnectionsOf(from.ip()) >= limits_.max_connections_per_client) {
    LOG(kWarning) << "Refusing connection from " << from.ToString() << ": too many";
    ++stats_.rejected;
    delete accepted;
    return;
  }
  accepted->SetOption(OPT_NODELAY, 1);
  if (listener == ssltcp_listener_.get()) accepted = new SslHelloServerAdapter(accepted);
  auto packets = std::make_unique<AsyncTcpSocket>(accepted);
  packets->ReadPacket.Connect(this, &RelayServer::OnClientPacket);
  packets->CloseEvent.Connect(this, &RelayServer::OnStreamClose);
  PacketSocket* key = packets.get();
  connections_[key] = StreamClient{std::move(packets), queue_->Now()};
}

void RelayServer::OnStreamClose(PacketSocket* socket, int error) {
  (void)error;
  DropConnection(socket);
}

void RelayServer::DropConnection(PacketSocket* socket) {
  auto it = connections_.find(socket);
  if (it == connections_.end()) return;
  for (auto a = allocations_.begin(); a != allocations_.end();) {
    a = a->first.first == socket ? allocations_.erase(a) : std::next(a);
  }
  // The socket may be the one whose event is being delivered: delete it later.
  it->second.socket->ReadPacket.Disconnect(this);
  closing_[socket] = std::move(it->second.socket);
  connections_.erase(it);
  queue_->Post(this, kDropClosedMessage);
}

void RelayServer::OnClientPacket(const char* data, size_t size, const SocketAddress& from,
                                 PacketSocket* socket) {
  ++stats_.packets_in;
  const Key key(socket, from);
  auto found = allocations_.find(key);
  RelayAllocation* allocation = found == allocations_.end() ? nullptr : found->second.get();
  if (allocation) allocation->Touch(queue_->Now());

  // Unframed data of a locked allocation: anything without its cookie where a relay
  // message has it.
  if (allocation && allocation->locked()) {
    const std::string& cookie = allocation->magic_cookie();
    const size_t at = StunPacket::kHeaderSize + 4;
    if (size < at + cookie.size() || std::memcmp(data + at, cookie.data(), cookie.size()) != 0) {
      if (allocation->SendToPeer(data, size, allocation->locked_destination())) {
        ++stats_.relayed;
      }
      return;
    }
  }
  WireBuffer reader(data, size);
  StunPacket message;
  if (!message.Parse(&reader)) {
    ++stats_.rejected;
    return;
  }
  if (message.type() == STUN_ALLOCATE_REQUEST) {
    HandleAllocate(message, key);
  } else if (message.type() == STUN_SEND_REQUEST && allocation) {
    HandleSend(message, allocation);
  } else {
    // A Send Request without allocation gets no answer: the relay must not reflect traffic
    // to whoever forged the sender.
    ++stats_.rejected;
  }
}

void RelayServer::HandleAllocate(const StunPacket& request, const Key& key) {
  const BytesAttr* cookie = request.FindBytes(STUN_ATTR_MAGIC_COOKIE);
  const BytesAttr* username = request.FindBytes(STUN_ATTR_USERNAME);
  const std::string_view sent_cookie = cookie ? cookie->bytes() : std::string_view();
  // Only the first attribute position marks a relay message, so refusals need a cookie too.
  if (!cookie || !username || request.attributes().front()->type() != STUN_ATTR_MAGIC_COOKIE) {
    ++stats_.rejected;
    SendError(request, key, std::string(sent_cookie), STUN_ERROR_BAD_REQUEST,
              STUN_ERROR_REASON_BAD_REQUEST);
    return;
  }
  auto found = allocations_.find(key);
  if (found != allocations_.end()) {
    RelayAllocation* allocation = found->second.get();
    if (allocation->username() != username->bytes() ||
        allocation->magic_cookie() != cookie->bytes()) {
      ++stats_.rejected;
      SendError(request, key, std::string(sent_cookie), STUN_ERROR_UNAUTHORIZED,
                STUN_ERROR_REASON_UNAUTHORIZED);
      return;
    }
  } else {
    const RelaySession* session = sessions_->Find(username->bytes(), queue_->Now());
    if (!session || session->magic_cookie != cookie->bytes()) {
      ++stats_.rejected;
      SendError(request, key, std::string(sent_cookie), STUN_ERROR_UNAUTHORIZED,
                STUN_ERROR_REASON_UNAUTHORIZED);
      return;
    }
    if (allocations_.size() >= limits_.max_allocations ||
        AllocationsOf(key.second.ip()) >= limits_.max_allocations_per_client) {
      LOG(kWarning) << "Allocation refused for " << key.second.ToString() << ": limit reached";
      ++stats_.rejected;
      SendError(request, key, std::string(sent_cookie), STUN_ERROR_SERVER_ERROR,
                STUN_ERROR_REASON_SERVER_ERROR);
      return;
    }
    auto allocation = std::make_unique<RelayAllocation>(
        queue_, key.first, key.second, session->username, session->magic_cookie,
        limits_.bandwidth_bytes_per_second, limits_.allow_loopback_peers);
    if (!allocation->Open(queue_->hub(), listen_ip_, public_ip_)) {
      SendError(request, key, std::string(sent_cookie), STUN_ERROR_SERVER_ERROR,
                STUN_ERROR_REASON_SERVER_ERROR);
      return;
    }
    allocation->Touch(queue_->Now());
    LOG(kInfo) << "Allocated " << allocation->relayed_address().ToString() << " for "
               << key.second.ToString();
    found = allocations_.emplace(key, std::move(allocation)).first;
  }
  StunPacket response;
  response.SetType(STUN_ALLOCATE_RESPONSE);
  response.SetTransactionId(request.transaction_id());
  response.Append(CookieAttr(found->second->magic_cookie()));
  auto mapped = StunPacket::CreateAddress(STUN_ATTR_MAPPED_ADDRESS);
  mapped->SetAddress(found->second->relayed_address());
  response.Append(std::move(mapped));
  Reply(response, key);
}

void RelayServer::HandleSend(const StunPacket& request, RelayAllocation* allocation) {
  const BytesAttr* username = request.FindBytes(STUN_ATTR_USERNAME);
  const AddressAttr* destination = request.FindAddress(STUN_ATTR_DESTINATION_ADDRESS);
  const BytesAttr* payload = request.FindBytes(STUN_ATTR_DATA);
  if (!username || username->bytes() != allocation->username() || !destination ||
      destination->family() != STUN_ADDRESS_IPV4 || !payload) {
    ++stats_.rejected;
    return;
  }
  if (allocation->SendToPeer(payload->bytes().data(), payload->bytes().size(),
                             destination->address())) {
    ++stats_.relayed;
  }
  const U32Attr* options = request.FindU32(STUN_ATTR_OPTIONS);
  if (!options || !(options->value() & kOptionLock)) return;
  // Only a lock request is answered: the client waits for nothing else.
  const bool locked = allocation->Lock(destination->address());
  StunPacket response;
  response.SetType(STUN_SEND_RESPONSE);
  response.SetTransactionId(request.transaction_id());
  response.Append(CookieAttr(allocation->magic_cookie()));
  auto granted = StunPacket::CreateU32(STUN_ATTR_OPTIONS);
  granted->SetValue(locked ? kOptionLock : 0);
  response.Append(std::move(granted));
  Reply(response, Key(allocation->client_socket(), allocation->client()));
}

void RelayServer::SendError(const StunPacket& request, const Key& key, const std::string& cookie,
                            int code, const char* reason) {
  StunPacket response;
  response.SetType(ErrorTypeFor(request.type()));
  response.SetTransactionId(request.transaction_id());
  if (!cookie.empty()) response.Append(CookieAttr(cookie));
  auto error = StunPacket::CreateError();
  error->SetCode(code);
  error->SetReason(reason);
  response.Append(std::move(error));
  Reply(response, key);
}

void RelayServer::Reply(const StunPacket& answer, const Key& key) {
  WireBuffer bytes;
  answer.Serialize(&bytes);
  key.first->SendTo(bytes.Data(), bytes.Length(), key.second);
}

void RelayServer::Sweep() {
  const Tick now = queue_->Now();
  for (auto it = allocations_.begin(); it != allocations_.end();) {
    if (TickDiff(now, it->second->last_activity()) >= limits_.idle_timeout_ms) {
      LOG(kInfo) << "Allocation " << it->second->relayed_address().ToString() << " expired";
      it = allocations_.erase(it);
    } else {
      ++it;
    }
  }
  std::vector<PacketSocket*> stale;
  for (const auto& [socket, client] : connections_) {
    bool has_allocation = false;
    for (const auto& [key, allocation] : allocations_) has_allocation |= key.first == socket;
    if (!has_allocation && TickDiff(now, client.since) >= kHandshakeTimeoutMs) {
      stale.push_back(socket);
    }
  }
  for (PacketSocket* socket : stale) DropConnection(socket);
  sessions_->Expire(now);
}

}  // namespace vexalo
