#include "p2p/base/relayport.h"

#include "base/net/socketerrors.h"
#include "base/runtime/logging.h"
#include "p2p/base/connection.h"
#include "p2p/base/datagramconnection.h"
#include "p2p/base/relayentry.h"

namespace vexalo {

namespace {
constexpr char kRelayPortType[] = "relay";
}  // namespace

RelayPort::RelayPort(EventQueue* thread, SocketHub* factory, const Network& network,
                     const SocketAddress& local_address, const std::string& username,
                     const std::string& password, const std::string& magic_cookie)
    : Port(thread, factory, network, kRelayPortType),
      local_address_(local_address),
      magic_cookie_(magic_cookie.empty() ? std::string(kDefaultMagicCookie, 4) : magic_cookie) {
  SetCredentials(username, password);
  entries_.push_back(std::make_unique<RelayEntry>(this, SocketAddress()));
}

RelayPort::~RelayPort() {
  thread()->Clear(this, kDeleteSocketsMessage);
  entries_.clear();
}

void RelayPort::HandleMessage(QueuedMessage* msg) {
  if (msg->id == kDeleteSocketsMessage) {
    released_sockets_.clear();
    return;
  }
  Port::HandleMessage(msg);
}

void RelayPort::AddServerAddress(const ProtocolAddress& address) {
  const ProxyType proxy_type = proxy().type;
  if (address.proto == PROTO_SSLTCP &&
      (proxy_type == PROXY_HTTPS || proxy_type == PROXY_UNKNOWN)) {
    servers_.push_front(address);
  } else {
    servers_.push_back(address);
  }
}

void RelayPort::AddExternalAddress(const ProtocolAddress& address) {
  const char* protocol = ProtoToString(address.proto);
  for (const Candidate& candidate : candidates()) {
    if (candidate.address == address.address && candidate.protocol == protocol) {
      LOG(kInfo) << "Redundant relay address: " << protocol << " @ "
                 << address.address.ToString();
      return;
    }
  }
  AddAddress(address.address, protocol, false);
}

void RelayPort::PrepareAddress() {
  ready_ = false;
  entries_.front()->Connect();
}

Connection* RelayPort::CreateConnection(const Candidate& remote, CandidateOrigin origin) {
  if (remote.type == kRelayPortType) return nullptr;
  if (remote.protocol != "udp" && origin != ORIGIN_THIS_PORT) return nullptr;
  size_t index = 0;
  for (size_t i = 0; i < candidates().size(); ++i) {
    if (candidates()[i].protocol == remote.protocol) {
      index = i;
      break;
    }
  }
  auto* connection = new DatagramConnection(this, index, remote);
  AddConnection(connection);
  return connection;
}

int RelayPort::SendTo(const char* data, size_t size, const SocketAddress& address,
                      bool is_payload) {
  RelayEntry* entry = nullptr;
  for (const auto& candidate : entries_) {
    if (is_payload && candidate->destination().ip() == 0) {
      candidate->SetDestination(address);
      entry = candidate.get();
      break;
    }
    if (candidate->destination() == address) {
      entry = candidate.get();
      break;
    }
  }
  if (!entry && is_payload) {
    auto fresh = std::make_unique<RelayEntry>(this, address);
    fresh->SetServerIndex(entries_.front()->server_index());
    entry = fresh.get();
    entries_.push_back(std::move(fresh));
    entry->Connect();
  }
  if (!entry || !entry->allocated()) {
    entry = entries_.front()->allocated() ? entries_.front().get() : nullptr;
  }
  if (!entry) {
    error_ = kSocketWouldBlock;
    return -1;
  }
  if (entry->SendTo(data, size, address) < 0) {
    error_ = entry->error();
    return -1;
  }
  return static_cast<int>(size);
}

int RelayPort::SetOption(SocketOption option, int value) {
  int result = 0;
  for (const auto& entry : entries_) {
    if (entry->socket() && entry->socket()->SetOption(option, value) < 0) {
      error_ = entry->socket()->GetError();
      result = -1;
    }
  }
  options_.emplace_back(option, value);
  return result;
}

const ProtocolAddress* RelayPort::ServerAddress(size_t index) const {
  return index < servers_.size() ? &servers_[index] : nullptr;
}

PacketSocket* RelayPort::CreateEntrySocket(int protocol) { return CreatePacketSocket(protocol); }

void RelayPort::ApplyOptions(PacketSocket* socket) {
  for (const auto& [option, value] : options_) socket->SetOption(option, value);
}

void RelayPort::ReleaseSocket(std::unique_ptr<PacketSocket> socket) {
  released_sockets_.push_back(std::move(socket));
  thread()->Post(this, kDeleteSocketsMessage);
}

void RelayPort::OnAllocated(const SocketAddress& mapped) {
  AddExternalAddress(ProtocolAddress{mapped, PROTO_UDP});
  if (!ready_) {
    ready_ = true;
    AddressReady(this);
  }
}

void RelayPort::OnReadPacket(const char* data, size_t size, const SocketAddress& from) {
  if (Connection* connection = GetConnection(from)) {
    connection->OnReadPacket(data, size);
  } else {
    HandleUnknownAddressPacket(data, size, from);
  }
}

}  // namespace vexalo
