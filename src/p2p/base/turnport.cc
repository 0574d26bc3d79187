#include "p2p/base/turnport.h"

#include "base/net/socketerrors.h"
#include "base/runtime/logging.h"
#include "p2p/base/connection.h"
#include "p2p/base/datagramconnection.h"
#include "p2p/base/randomgenerator.h"

namespace vexalo {

namespace {
constexpr char kRelayPortType[] = "relay";
constexpr uint32_t kTransportUdp = 17u << 24;
constexpr int kUnauthorized = 401;
constexpr int kStaleNonce = 438;
constexpr int kRefreshMarginS = 60;
constexpr size_t kMaxCredentialBytes = 763;  // the attributes' limit
}  // namespace

TurnPort::TurnPort(EventQueue* thread, SocketHub* factory, const Network& network,
                   const SocketAddress& local_address, const SocketAddress& server,
                   const std::string& username, const std::string& password)
    : Port(thread, factory, network, kRelayPortType),
      server_(server),
      turn_username_(username),
      turn_password_(password),
      socket_(CreatePacketSocket(PROTO_UDP)) {
  if (!socket_) return;
  socket_->ReadPacket.Connect(this, &TurnPort::OnReadPacket);
  if (socket_->Bind(local_address) < 0) {
    error_ = socket_->GetError();
    LOG_ERR(kInfo, static_cast<uint32_t>(error_)) << "bind";
  }
}

TurnPort::~TurnPort() { thread()->Clear(this); }

void TurnPort::PrepareAddress() { SendRequest(TurnMessage::kAllocate, SocketAddress()); }

TurnMessage TurnPort::Build(uint16_t method, const SocketAddress& peer) const {
  TurnMessage message(method, RandomGenerator::RandomString(12));
  if (method == TurnMessage::kAllocate) {
    message.AddU32(TurnMessage::kRequestedTransport, kTransportUdp);
  }
  if (method == TurnMessage::kCreatePermission) {
    message.AddXorAddress(TurnMessage::kXorPeerAddress, peer);
  }
  if (!key_.empty()) {
    message.Add(TurnMessage::kUsername, turn_username_);
    message.Add(TurnMessage::kRealm, realm_);
    message.Add(TurnMessage::kNonce, nonce_);
  }
  return message;
}

void TurnPort::SendRequest(uint16_t method, const SocketAddress& peer) {
  if (turn_username_.size() > kMaxCredentialBytes) return;
  TurnMessage message = Build(method, peer);
  const std::string id = message.transaction_id();
  requests_[id] = Request{method, peer, message.Serialize(key_)};
  Transmit(id);
}

void TurnPort::Transmit(const std::string& id) {
  auto it = requests_.find(id);
  if (it == requests_.end()) return;
  Request& request = it->second;
  if (request.sends >= kMaxSends) {
    LOG(kInfo) << "TURN request timed out";
    requests_.erase(it);
    return;
  }
  if (socket_) socket_->SendTo(request.bytes.data(), request.bytes.size(), server_);
  const int delay = kFirstRetransmitMs << request.sends;
  ++request.sends;
  thread()->PostAfter(delay, this, kRetransmitMessage, new MessageData<std::string>(id));
}

void TurnPort::HandleMessage(QueuedMessage* msg) {
  switch (msg->id) {
    case kRetransmitMessage:
      Transmit(msg->TakePayload<MessageData<std::string>>()->value());
      break;
    case kRefreshMessage:
      SendRequest(TurnMessage::kRefresh, SocketAddress());
      break;
    case kPermissionMessage:
      for (uint32_t ip : permissions_) {
        SendRequest(TurnMessage::kCreatePermission, SocketAddress(ip, 0));
      }
      thread()->PostAfter(kPermissionRefreshMs, this, kPermissionMessage);
      break;
    default:
      Port::HandleMessage(msg);
  }
}

Connection* TurnPort::CreateConnection(const Candidate& remote, CandidateOrigin origin) {
  (void)origin;
  if (remote.type == kRelayPortType || remote.protocol != "udp") return nullptr;
  auto* connection = new DatagramConnection(this, 0, remote);
  AddConnection(connection);
  return connection;
}

int TurnPort::SendTo(const char* data, size_t size, const SocketAddress& address,
                     bool is_payload) {
  (void)is_payload;
  if (!allocated_ || !socket_) {
    error_ = kSocketWouldBlock;
    return -1;
  }
  if (permissions_.insert(address.ip()).second) {
    SendRequest(TurnMessage::kCreatePermission, address);
    if (permissions_.size() == 1) thread()->PostAfter(kPermissionRefreshMs, this, kPermissionMessage);
  }
  TurnMessage indication(TurnMessage::kSend | TurnMessage::kIndication,
                         RandomGenerator::RandomString(12));
  indication.AddXorAddress(TurnMessage::kXorPeerAddress, address);
  indication.Add(TurnMessage::kData_, std::string_view(data, size));
  const std::string bytes = indication.Serialize();
  if (socket_->SendTo(bytes.data(), bytes.size(), server_) < 0) {
    error_ = socket_->GetError();
    return -1;
  }
  return static_cast<int>(size);
}

int TurnPort::SetOption(SocketOption option, int value) {
  return socket_ ? socket_->SetOption(option, value) : -1;
}

void TurnPort::OnReadPacket(const char* data, size_t size, const SocketAddress& from,
                            PacketSocket* socket) {
  (void)socket;
  if (from != server_) return;  // only the server speaks to this socket
  TurnMessage message;
  if (!message.Parse(data, size)) {
    LOG(kInfo) << "Incoming packet was not TURN";
    return;
  }
  if (message.type() == (TurnMessage::kData | TurnMessage::kIndication)) {
    SocketAddress peer;
    const std::string* payload = message.Find(TurnMessage::kData_);
    if (!message.FindXorAddress(TurnMessage::kXorPeerAddress, &peer) || !payload) return;
    if (Connection* connection = GetConnection(peer)) {
      connection->OnReadPacket(payload->data(), payload->size());
    } else {
      HandleUnknownAddressPacket(payload->data(), payload->size(), peer);
    }
    return;
  }
  OnResponse(message, data, size);
}

void TurnPort::OnResponse(const TurnMessage& message, const char* raw, size_t size) {
  auto it = requests_.find(message.transaction_id());
  if (it == requests_.end()) return;
  // Once credentials are in use, an answer must prove it knows them.
  if (!key_.empty() && message.Find(TurnMessage::kMessageIntegrity) &&
      !TurnMessage::CheckIntegrity(raw, size, key_)) {
    LOG(kWarning) << "TURN answer with a wrong integrity: dropped";
    return;
  }
  const Request request = it->second;
  requests_.erase(it);
  thread()->Clear(this, kRetransmitMessage);
  for (const auto& [id, pending] : requests_) {
    thread()->PostAfter(kFirstRetransmitMs, this, kRetransmitMessage,
                        new MessageData<std::string>(id));
  }
  const bool success = (message.type() & 0x0110) == TurnMessage::kSuccess;
  if (!success) {
    const int code = message.ErrorCode();
    const std::string* realm = message.Find(TurnMessage::kRealm);
    const std::string* nonce = message.Find(TurnMessage::kNonce);
    const bool retry = (code == kUnauthorized && key_.empty()) || code == kStaleNonce;
    if (retry && realm && nonce && realm->size() <= kMaxCredentialBytes &&
        nonce->size() <= kMaxCredentialBytes) {
      realm_ = *realm;
      nonce_ = *nonce;
      key_ = TurnMessage::LongTermKey(turn_username_, realm_, turn_password_);
      SendRequest(request.method, request.peer);
    } else {
      LOG(kInfo) << "TURN error response: code=" << code;
    }
    return;
  }
  if (request.method == TurnMessage::kAllocate || request.method == TurnMessage::kRefresh) {
    const std::string* lifetime = message.Find(TurnMessage::kLifetime);
    uint32_t seconds = 600;
    if (lifetime && lifetime->size() == 4) {
      seconds = (static_cast<uint32_t>(static_cast<uint8_t>((*lifetime)[0])) << 24) |
                (static_cast<uint32_t>(static_cast<uint8_t>((*lifetime)[1])) << 16) |
                (static_cast<uint32_t>(static_cast<uint8_t>((*lifetime)[2])) << 8) |
                static_cast<uint8_t>((*lifetime)[3]);
    }
    const int refresh_s = seconds > 2 * kRefreshMarginS ? static_cast<int>(seconds) - kRefreshMarginS
                                                        : static_cast<int>(seconds / 2 + 1);
    thread()->Clear(this, kRefreshMessage);
    thread()->PostAfter(refresh_s * 1000, this, kRefreshMessage);
  }
  if (request.method == TurnMessage::kAllocate && !allocated_) {
    if (!message.FindXorAddress(TurnMessage::kXorRelayedAddress, &relayed_)) {
      LOG(kInfo) << "TURN allocate response without a relayed IPv4 address";
      return;
    }
    allocated_ = true;
    LOG(kInfo) << "TURN allocate succeeded: udp @ " << relayed_.ToString();
    AddAddress(relayed_, "udp", true);
  }
}

}  // namespace vexalo
