#include "p2p/base/relayentry.h"

#include <cstring>

#include "base/net/asynctcpsocket.h"
#include "base/runtime/logging.h"
#include "base/net/socketerrors.h"
#include "p2p/base/allocatetransaction.h"
#include "p2p/base/randomgenerator.h"
#include "p2p/base/relayport.h"
#include "p2p/base/wirebuffer.h"

namespace vexalo {

namespace {
constexpr uint32_t kOptionLock = 1;
}  // namespace

RelayEntry::RelayEntry(RelayPort* port, const SocketAddress& destination)
    : port_(port), destination_(destination), transactions_(port->thread()) {
  transactions_.SendPacket.Connect(this, &RelayEntry::SendPacketBytes);
}

RelayEntry::~RelayEntry() { transactions_.Clear(); }

void RelayEntry::Connect() {
  const ProtocolAddress* server = port_->ServerAddress(server_index_);
  if (!server) {
    LOG(kInfo) << "Out of relay server connections";
    return;
  }
  LOG(kInfo) << "Connecting to relay via " << ProtoToString(server->proto) << " @ "
             << server->address.ToString();
  socket_.reset(port_->CreateEntrySocket(server->proto));
  if (!socket_) return;
  socket_->ReadPacket.Connect(this, &RelayEntry::OnReadPacket);
  if (socket_->Bind(port_->local_address()) < 0) {
    LOG_ERR(kInfo, static_cast<uint32_t>(socket_->GetError())) << "bind";
  }
  port_->ApplyOptions(socket_.get());
  if (server->proto == PROTO_TCP || server->proto == PROTO_SSLTCP) {
    auto* stream = static_cast<AsyncTcpSocket*>(socket_.get());
    stream->ConnectEvent.Connect(this, &RelayEntry::OnConnect);
    stream->CloseEvent.Connect(this, &RelayEntry::OnClose);
    if (stream->Connect(server->address) < 0 && !IsBlockingError(stream->GetError())) {
      // Refused at once: no close event follows, and the allocate would go nowhere. Its
      // time-out moves the entry on, outside the caller's own call.
      LOG_ERR(kError, static_cast<uint32_t>(stream->GetError())) << "relay tcp connect failed";
      SendAllocate(0);
    }
  } else {
    SendAllocate(0);
  }
}

void RelayEntry::OnConnect(PacketSocket* socket) {
  (void)socket;
  const ProtocolAddress* server = port_->ServerAddress(server_index_);
  LOG(kInfo) << "relay tcp connected to " << (server ? server->address.ToString() : "");
  SendAllocate(0);
}

void RelayEntry::OnClose(PacketSocket* socket, int error) {
  (void)socket;
  LOG_ERR(kError, static_cast<uint32_t>(error)) << "relay tcp connect failed";
  FailOver();
}

void RelayEntry::FailOver() {
  allocated_ = false;
  locked_ = false;
  if (socket_) {
    socket_->ReadPacket.Disconnect(this);
    if (auto* stream = dynamic_cast<AsyncTcpSocket*>(socket_.get())) {
      stream->ConnectEvent.Disconnect(this);
      stream->CloseEvent.Disconnect(this);
    }
    port_->ReleaseSocket(std::move(socket_));
  }
  transactions_.Clear();
  ++server_index_;
  Connect();
}

void RelayEntry::SendAllocate(int delay_ms) {
  transactions_.SendDelayed(
      std::make_unique<AllocateTransaction>(this, port_->thread()->Now()), delay_ms);
}

int RelayEntry::SendTo(const char* data, size_t size, const SocketAddress& address) {
  if (locked_ && address == destination_) return SendRaw(data, size);

  StunPacket request;
  request.SetType(STUN_SEND_REQUEST);
  request.SetTransactionId(RandomGenerator::RandomString(StunPacket::kTransactionIdSize));
  auto cookie = StunPacket::CreateBytes(STUN_ATTR_MAGIC_COOKIE);
  cookie->CopyBytes(port_->magic_cookie());
  request.Append(std::move(cookie));
  auto username = StunPacket::CreateBytes(STUN_ATTR_USERNAME);
  username->CopyBytes(port_->username_fragment());
  request.Append(std::move(username));
  auto destination = StunPacket::CreateAddress(STUN_ATTR_DESTINATION_ADDRESS);
  destination->SetAddress(address);
  request.Append(std::move(destination));
  if (address == destination_) {
    request.Append(StunPacket::CreateU32(STUN_ATTR_OPTIONS));
    static_cast<U32Attr*>(request.attributes().back().get())->SetValue(kOptionLock);
  }
  auto payload = StunPacket::CreateBytes(STUN_ATTR_DATA);
  if (!payload->CopyBytes(data, size) || !request.Append(std::move(payload))) {
    error_ = kSocketMessageSize;
    return -1;
  }
  WireBuffer bytes;
  request.Serialize(&bytes);
  if (SendRaw(bytes.Data(), bytes.Length()) < 0) return -1;
  return static_cast<int>(size);
}

int RelayEntry::SendRaw(const char* data, size_t size) {
  const ProtocolAddress* server = port_->ServerAddress(server_index_);
  if (!server || !socket_) {
    error_ = kSocketNotConnected;
    return -1;
  }
  int sent = socket_->SendTo(data, size, server->address);
  if (sent < 1) {
    error_ = socket_->GetError();
    LOG_ERR(kVerbose, static_cast<uint32_t>(error_)) << "sendto";
  }
  return sent;
}

void RelayEntry::OnReadPacket(const char* data, size_t size, const SocketAddress& from,
                              PacketSocket* socket) {
  (void)from;
  (void)socket;
  const std::string& cookie = port_->magic_cookie();
  const size_t cookie_at = StunPacket::kHeaderSize + 4;
  if (size < cookie_at + cookie.size() ||
      std::memcmp(data + cookie_at, cookie.data(), cookie.size()) != 0) {
    if (locked_) {
      port_->OnReadPacket(data, size, destination_);
    } else {
      LOG(kWarning) << "Dropping packet: entry not locked";
    }
    return;
  }
  OnRelayMessage(data, size);
}

void RelayEntry::OnRelayMessage(const char* data, size_t size) {
  WireBuffer reader(data, size);
  StunPacket message;
  if (!message.Parse(&reader)) {
    LOG(kInfo) << "Incoming packet was not STUN";
    return;
  }
  if (transactions_.CheckResponse(message)) return;
  if (message.type() == STUN_SEND_RESPONSE) {
    const U32Attr* options = message.FindU32(STUN_ATTR_OPTIONS);
    if (options && (options->value() & kOptionLock)) locked_ = true;
    return;
  }
  if (message.type() != STUN_DATA_INDICATION) {
    LOG(kInfo) << "Received BAD stun type from server: " << message.type();
    return;
  }
  const AddressAttr* source = message.FindAddress(STUN_ATTR_SOURCE_ADDRESS2);
  const BytesAttr* payload = message.FindBytes(STUN_ATTR_DATA);
  if (!source) {
    LOG(kInfo) << "Data indication has no source address";
  } else if (source->family() != STUN_ADDRESS_IPV4) {
    LOG(kInfo) << "Source address has bad family";
  } else if (!payload) {
    LOG(kInfo) << "Data indication has no data";
  } else {
    port_->OnReadPacket(payload->bytes().data(), payload->bytes().size(), source->address());
  }
}

}  // namespace vexalo
