#include "p2p/base/streamconnection.h"

#include "base/runtime/logging.h"
#include "base/net/socketerrors.h"
#include "p2p/base/tcpport.h"

namespace vexalo {

StreamConnection::StreamConnection(TcpPort* port, const Candidate& remote,
                                   AsyncTcpSocket* socket)
    : Connection(port, 0, remote), socket_(socket) {
  if (socket_) {
    socket_->ReadPacket.Connect(this, &StreamConnection::OnSocketPacket);
    socket_->CloseEvent.Connect(this, &StreamConnection::OnSocketClose);
    return;
  }
  const int proto = remote.protocol == "ssltcp" ? PROTO_SSLTCP : PROTO_TCP;
  socket_.reset(static_cast<AsyncTcpSocket*>(port->CreatePacketSocket(proto)));
  if (!socket_) {
    error_ = kSocketNotSocket;
    SetConnected(false);
    return;
  }
  socket_->SetOption(OPT_NODELAY, 1);
  socket_->ReadPacket.Connect(this, &StreamConnection::OnSocketPacket);
  socket_->CloseEvent.Connect(this, &StreamConnection::OnSocketClose);
  socket_->ConnectEvent.Connect(this, &StreamConnection::OnSocketConnect);
  if (socket_->Connect(remote.address) < 0 && !IsBlockingError(socket_->GetError())) {
    error_ = socket_->GetError();
  }
  LOG(kInfo) << "Connecting to " << remote.address.ToString();
}

StreamConnection::~StreamConnection() = default;

int StreamConnection::Send(const char* data, size_t size) {
  // Like a datagram connection: nothing goes out before the pair is confirmed writable, and
  // the caller is told to wait rather than that nothing was sent.
  if (write_state() != STATE_WRITE_CONFIRMED) {
    error_ = kSocketWouldBlock;
    return -1;
  }
  int sent = socket_->Send(data, size);
  if (sent < 0) {
    error_ = socket_->GetError();
  } else {
    AddBytesSent(static_cast<size_t>(sent));
  }
  return sent;
}

void StreamConnection::OnSocketPacket(const char* data, size_t size, const SocketAddress& from,
                                      PacketSocket* socket) {
  (void)from;
  (void)socket;
  OnReadPacket(data, size);
}

void StreamConnection::OnSocketConnect(PacketSocket* socket) {
  (void)socket;
  LOG(kInfo) << "tcp connected to " << remote_candidate().address.ToString();
  SetConnected(true);
}

void StreamConnection::OnSocketClose(PacketSocket* socket, int error) {
  (void)socket;
  LOG(kInfo) << "tcp closed with error: " << error;
  error_ = error;
  SetConnected(false);
}

}  // namespace vexalo
