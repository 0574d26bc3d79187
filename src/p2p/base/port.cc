#include "p2p/base/port.h"

#include "base/proxy/asynchttpsproxysocket.h"
#include "base/proxy/asyncsocks5proxysocket.h"
#include "base/net/asynctcpsocket.h"
#include "base/net/asyncudpsocket.h"
#include "base/runtime/logging.h"
#include "base/net/ssltcpadapter.h"
#include "p2p/base/connection.h"
#include "p2p/base/randomgenerator.h"
#include "p2p/base/stunmessageview.h"
#include "p2p/base/wirebuffer.h"

namespace vexalo {

namespace {
constexpr size_t kCredentialLength = 16;
}  // namespace

Port::Port(EventQueue* thread, SocketHub* factory, const Network& network,
           const std::string& type)
    : thread_(thread),
      factory_(factory ? factory : thread->hub()),
      type_(type),
      network_(network),
      username_fragment_(RandomGenerator::RandomString(kCredentialLength)),
      password_(RandomGenerator::RandomString(kCredentialLength)) {}

Port::~Port() {
  // The connections die with the port, without telling it.
  std::map<SocketAddress, Connection*> connections;
  connections.swap(connections_);
  for (auto& [address, connection] : connections) {
    connection->Destroyed.Disconnect(this);
    delete connection;
  }
}

void Port::Start() {
  if (lifetime_ != LT_PRESTART) {
    LOG(kWarning) << "Port restart attempted";
    return;
  }
  lifetime_ = LT_PRESTARTED;
  thread_->PostAfter(kLifetimeMs, this, kLifetimeMessage);
}

void Port::HandleMessage(QueuedMessage* msg) {
  (void)msg;
  lifetime_ = LT_EXPIRED;
  CheckForDeath();
}

void Port::CheckForDeath() {
  if (lifetime_ != LT_EXPIRED || !connections_.empty()) return;
  LOG(kInfo) << "Destroying port: " << name_ << "-" << type_;
  Destroyed(this);
  delete this;
}

void Port::SetProxy(const std::string& user_agent, const ProxySettings& proxy) {
  user_agent_ = user_agent;
  proxy_ = proxy;
}

void Port::AddAddress(const SocketAddress& address, const std::string& protocol, bool final) {
  Candidate c;
  c.name = name_;
  c.type = type_;
  c.protocol = protocol;
  c.address = address;
  c.preference = preference_;
  c.username = username_fragment_;
  c.password = password_;
  c.network_name = network_.name;
  c.generation = generation_;
  candidates_.push_back(c);
  if (final) AddressReady(this);
}

Connection* Port::GetConnection(const SocketAddress& remote) const {
  auto it = connections_.find(remote);
  return it == connections_.end() ? nullptr : it->second;
}

void Port::AddConnection(Connection* connection) {
  connections_[connection->remote_candidate().address] = connection;
  connection->Destroyed.Connect(this, &Port::OnConnectionDestroyed);
  ConnectionCreated(this, connection);
}

void Port::OnConnectionDestroyed(Connection* connection) {
  auto it = connections_.find(connection->remote_candidate().address);
  if (it != connections_.end() && it->second == connection) connections_.erase(it);
  CheckForDeath();
}

bool Port::GetStunMessage(const char* data, size_t size, const SocketAddress& from,
                          std::unique_ptr<StunPacket>* out, std::string* remote_username) {
  out->reset();
  // Checked in place first: junk and checks with a stranger's name cost no allocation.
  StunMessageView view;
  if (view.Validate(data, size) != size) return false;
  std::string_view username;
  view.Find(STUN_ATTR_USERNAME, &username);
  const std::string_view fragment = username_fragment_;

  switch (view.type()) {
    case STUN_BINDING_REQUEST:
      if (username.size() < fragment.size() || username.compare(0, fragment.size(), fragment)) {
        if (AllowStrangerLog()) LOG(kError) << "Received STUN request with bad username";
        if (AllowStrangerAnswer()) {
          SendBindingErrorResponse(*ParseValidated(data, size), from, STUN_ERROR_BAD_REQUEST,
                                   STUN_ERROR_REASON_BAD_REQUEST);
        }
        return true;
      }
      *remote_username = std::string(username.substr(fragment.size()));
      break;
    case STUN_BINDING_RESPONSE:
    case STUN_BINDING_ERROR_RESPONSE:
      if (username.size() < fragment.size() ||
          username.compare(username.size() - fragment.size(), fragment.size(), fragment)) {
        if (AllowStrangerLog()) LOG(kError) << "Received STUN response with bad username";
        return true;
      }
      *remote_username = std::string(username.substr(0, username.size() - fragment.size()));
      break;
    default:
      if (AllowStrangerLog()) {
        LOG(kError) << "Received STUN packet with invalid type: " << view.type();
      }
      return true;
  }
  std::unique_ptr<StunPacket> packet = ParseValidated(data, size);
  if (packet->type() == STUN_BINDING_ERROR_RESPONSE) {
    const ErrorAttr* error = packet->FindError();
    if (!error) {
      LOG(kError) << "Received STUN error response with no error code";
      return true;
    }
    LOG(kError) << "Received STUN binding error:" << " class=" << error->error_class()
                << " number=" << error->number() << " reason='"
                << PrintableText(error->reason(), 128) << "'";
  }
  *out = std::move(packet);
  return true;
}

std::unique_ptr<StunPacket> Port::ParseValidated(const char* data, size_t size) {
  auto packet = std::make_unique<StunPacket>();
  WireBuffer reader(data, size);
  packet->Parse(&reader);
  return packet;
}

// An answer carries the request's id and echoes its USERNAME, by which the requester knows it.
void Port::StartAnswer(const StunPacket& request, uint16_t type, StunPacket* answer) {
  answer->SetType(type);
  answer->SetTransactionId(request.transaction_id());
  if (const BytesAttr* username = request.FindBytes(STUN_ATTR_USERNAME)) {
    auto copy = StunPacket::CreateBytes(STUN_ATTR_USERNAME);
    copy->CopyBytes(username->bytes());
    answer->Append(std::move(copy));
  }
}

void Port::SendBindingResponse(const StunPacket& request, const SocketAddress& to) {
  StunPacket response;
  StartAnswer(request, STUN_BINDING_RESPONSE, &response);
  auto mapped = StunPacket::CreateAddress(STUN_ATTR_MAPPED_ADDRESS);
  mapped->SetAddress(to);
  response.Append(std::move(mapped));
  WireBuffer bytes;
  response.Serialize(&bytes);
  SendTo(bytes.Data(), bytes.Length(), to, false);
  if (Connection* connection = GetConnection(to)) connection->ReceivedPing();
}

void Port::SendBindingErrorResponse(const StunPacket& request, const SocketAddress& to, int code,
                                    const std::string& reason) {
  StunPacket response;
  StartAnswer(request, STUN_BINDING_ERROR_RESPONSE, &response);
  auto error = StunPacket::CreateError();
  error->SetCode(code);
  error->SetReason(reason);
  response.Append(std::move(error));
  WireBuffer bytes;
  response.Serialize(&bytes);
  SendTo(bytes.Data(), bytes.Length(), to, false);
}

void Port::HandleUnknownAddressPacket(const char* data, size_t size, const SocketAddress& from) {
  std::unique_ptr<StunPacket> packet;
  std::string remote_username;
  if (!GetStunMessage(data, size, from, &packet, &remote_username)) {
    if (AllowStrangerLog()) {
      LOG(kError) << "Received non-STUN packet from unknown address: " << from.ToString();
    }
    return;
  }
  if (!packet) return;
  if (packet->type() == STUN_BINDING_REQUEST) {
    UnknownAddress(this, from, *packet, remote_username);
    return;
  }
  if (AllowStrangerLog()) {
    LOG(kError) << "Received unexpected STUN message type (" << packet->type()
                << ") from unknown address: " << from.ToString();
  }
}

PacketSocket* Port::CreatePacketSocket(int protocol) {
  if (protocol == PROTO_UDP) {
    EventSocket* socket = factory_->CreateEventSocket(kDatagramSocket);
    return socket ? new AsyncUdpSocket(socket) : nullptr;
  }
  if (protocol != PROTO_TCP && protocol != PROTO_SSLTCP) {
    LOG(kInfo) << "Unknown protocol: " << protocol;
    return nullptr;
  }
  EventSocket* socket = factory_->CreateEventSocket(kStreamSocket);
  if (!socket) return nullptr;
  if (proxy_.type == PROXY_SOCKS5) {
    socket = new AsyncSocks5ProxySocket(socket, proxy_.address, proxy_.username, proxy_.password);
  } else if (proxy_.type != PROXY_NONE) {
    socket = new AsyncHttpsProxySocket(socket, user_agent_, proxy_.address, proxy_.username,
                                       proxy_.password);
  }
  if (protocol == PROTO_SSLTCP) socket = new SslTcpAdapter(socket);
  return new AsyncTcpSocket(socket);
}

}  // namespace vexalo
