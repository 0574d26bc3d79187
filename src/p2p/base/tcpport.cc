#include "p2p/base/tcpport.h"

#include "base/net/socketerrors.h"

#include "base/runtime/logging.h"
#include "p2p/base/streamconnection.h"

namespace vexalo {

namespace {
constexpr char kLocalPortType[] = "local";
constexpr int kListenBacklog = 5;
}  // namespace

TcpPort::TcpPort(EventQueue* thread, SocketHub* factory, const Network& network,
                 const SocketAddress& local_address)
    : Port(thread, factory, network, kLocalPortType),
      listen_socket_(this->factory()->CreateEventSocket(kStreamSocket)),
      incoming_only_(local_address.port() != 0) {
  if (!listen_socket_) {
    LOG(kInfo) << "bind: no socket";
    return;
  }
  listen_socket_->ReadEvent.Connect(this, &TcpPort::OnAcceptEvent);
  if (listen_socket_->Bind(local_address) < 0) {
    error_ = listen_socket_->GetError();
    LOG(kInfo) << "bind: " << SocketErrorText(error_);
  }
}

TcpPort::~TcpPort() = default;

SocketAddress TcpPort::local_address() const {
  return listen_socket_ ? listen_socket_->GetLocalAddress() : SocketAddress();
}

void TcpPort::PrepareAddress() {
  if (listen_socket_ && listen_socket_->Listen(kListenBacklog) < 0) {
    error_ = listen_socket_->GetError();
    LOG(kInfo) << "listen: " << SocketErrorText(error_);
  }
  AddAddress(local_address(), "tcp", true);
}

void TcpPort::HandleMessage(QueuedMessage* msg) {
  if (msg->id != kDropClosedMessage) {
    Port::HandleMessage(msg);
    return;
  }
  incoming_.remove_if([](const Incoming& in) { return in.closed; });
}

std::list<TcpPort::Incoming>::iterator TcpPort::FindIncoming(const SocketAddress& address) {
  for (auto it = incoming_.begin(); it != incoming_.end(); ++it) {
    if (!it->closed && it->address == address) return it;
  }
  return incoming_.end();
}

void TcpPort::DropStaleIncoming() {
  const Tick now = thread()->Now();
  incoming_.remove_if([now](const Incoming& in) {
    return !in.closed && TickDiff(now, in.accepted) >= kIncomingLifetimeMs;
  });
  while (incoming_.size() >= kMaxIncoming) {
    // The list is in accept order: the oldest waiting stranger makes room.
    auto oldest = incoming_.begin();
    while (oldest != incoming_.end() && oldest->closed) ++oldest;
    if (oldest == incoming_.end()) break;
    LOG(kInfo) << "dropping unclaimed connection from " << oldest->address.ToString();
    incoming_.erase(oldest);
  }
}

void TcpPort::OnAcceptEvent(EventSocket* socket) {
  (void)socket;
  SocketAddress from;
  EventSocket* accepted = listen_socket_->Accept(&from);
  if (!accepted) {
    const int error = listen_socket_->GetError();
    LOG(kInfo) << "accept: " << error << " " << SocketErrorText(error);
    return;
  }
  DropStaleIncoming();
  accepted->SetOption(OPT_NODELAY, 1);
  auto packets = std::make_unique<AsyncTcpSocket>(accepted);
  packets->ReadPacket.Connect(this, &TcpPort::OnIncomingPacket);
  packets->CloseEvent.Connect(this, &TcpPort::OnIncomingClose);
  LOG(kInfo) << "accepted incoming connection from " << from.ToString();
  incoming_.push_back(Incoming{from, std::move(packets), thread()->Now()});
}

void TcpPort::OnIncomingPacket(const char* data, size_t size, const SocketAddress& from,
                               PacketSocket* socket) {
  (void)socket;
  HandleUnknownAddressPacket(data, size, from);
}

void TcpPort::OnIncomingClose(PacketSocket* socket, int error) {
  (void)error;
  // The socket is in the middle of reporting: it is freed by a posted message.
  for (Incoming& in : incoming_) {
    if (in.socket.get() == socket) in.closed = true;
  }
  thread()->Post(this, kDropClosedMessage);
}

Connection* TcpPort::CreateConnection(const Candidate& remote, CandidateOrigin origin) {
  if (remote.protocol != "tcp" && remote.protocol != "ssltcp") return nullptr;
  if (origin == ORIGIN_OTHER_PORT) return nullptr;
  if (incoming_only_ && origin == ORIGIN_MESSAGE) return nullptr;
  if (remote.protocol == "ssltcp" && origin == ORIGIN_THIS_PORT) return nullptr;

  AsyncTcpSocket* socket = nullptr;
  auto it = FindIncoming(remote.address);
  if (it != incoming_.end()) {
    socket = it->socket.release();
    socket->ReadPacket.Disconnect(this);
    socket->CloseEvent.Disconnect(this);
    incoming_.erase(it);
  }
  auto* connection = new StreamConnection(this, remote, socket);
  AddConnection(connection);
  return connection;
}

int TcpPort::SendTo(const char* data, size_t size, const SocketAddress& address,
                    bool is_payload) {
  (void)is_payload;
  AsyncTcpSocket* socket = nullptr;
  if (Connection* connection = GetConnection(address)) {
    socket = static_cast<StreamConnection*>(connection)->socket();
  } else {
    auto it = FindIncoming(address);
    if (it != incoming_.end()) socket = it->socket.get();
  }
  if (!socket) {
    LOG(kInfo) << "Unknown destination for SendTo: " << address.ToString();
    return -1;
  }
  int sent = socket->Send(data, size);
  if (sent < 0) error_ = socket->GetError();
  return sent;
}

int TcpPort::SetOption(SocketOption option, int value) {
  return listen_socket_ ? listen_socket_->SetOption(option, value) : -1;
}

}  // namespace vexalo
