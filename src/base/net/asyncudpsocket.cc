#include "base/net/asyncudpsocket.h"

#include "base/runtime/logging.h"

namespace vexalo {

AsyncUdpSocket::AsyncUdpSocket(EventSocket* socket)
    : PacketSocket(socket), buffer_(new char[kBufferSize]) {
  socket_->ReadEvent.Connect(this, &AsyncUdpSocket::OnReadEvent);
}

void AsyncUdpSocket::OnReadEvent(EventSocket*) {
  SocketAddress sender;
  int n = socket_->RecvFrom(buffer_.get(), kBufferSize, &sender);
  if (n >= 0) {
    ReadPacket.Emit(buffer_.get(), static_cast<size_t>(n), sender, this);
  } else {
    LOG_ERR(kError, socket_->GetError()) << "recvfrom";
  }
}

}  // namespace vexalo
