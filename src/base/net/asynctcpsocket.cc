#include "base/net/asynctcpsocket.h"

#include <errno.h>

#include <cstring>

#include "base/runtime/logging.h"
#include "base/net/socketerrors.h"

namespace vexalo {

AsyncTcpSocket::AsyncTcpSocket(EventSocket* socket)
    : PacketSocket(socket), in_(new char[kBufferSize]), out_(new char[kBufferSize]) {
  socket_->ConnectEvent.Connect(this, &AsyncTcpSocket::OnConnectEvent);
  socket_->ReadEvent.Connect(this, &AsyncTcpSocket::OnReadEvent);
  socket_->WriteEvent.Connect(this, &AsyncTcpSocket::OnWriteEvent);
  socket_->CloseEvent.Connect(this, &AsyncTcpSocket::OnCloseEvent);
}

int AsyncTcpSocket::Send(const void* data, size_t length) {
  if (length > kMaxPacketSize) {
    socket_->SetError(kSocketMessageSize);
    return -1;
  }
  // No queueing: a congested connection loses packets, as UDP would.
  if (out_fill_ > 0) return static_cast<int>(length);
  out_[0] = static_cast<char>((length >> 8) & 0xFF);
  out_[1] = static_cast<char>(length & 0xFF);
  std::memcpy(out_.get() + 2, data, length);
  out_fill_ = length + 2;
  int n = Flush();
  if (n <= 0) {
    out_fill_ = 0;
    return n;
  }
  return static_cast<int>(length);
}

int AsyncTcpSocket::SendTo(const void* data, size_t length, const SocketAddress& address) {
  if (address == GetRemoteAddress()) return Send(data, length);
  socket_->SetError(kSocketNotConnected);
  return -1;
}

int AsyncTcpSocket::Flush() {
  int first = 0;
  // Keep writing after a partial write: only a would-block re-arms the write event, so a
  // remainder left after a partial write would otherwise never be sent.
  while (out_fill_ > 0) {
    int n = socket_->Send(out_.get(), out_fill_);
    if (first == 0) first = n;
    if (n <= 0) break;
    size_t sent = static_cast<size_t>(n);
    std::memmove(out_.get(), out_.get() + sent, out_fill_ - sent);
    out_fill_ -= sent;
  }
  return first;
}

size_t AsyncTcpSocket::ExtractFrames(char* buffer, size_t fill,
                                     const std::function<void(const char*, size_t)>& on_packet) {
  size_t offset = 0;
  while (fill - offset >= 2) {
    size_t length = (static_cast<unsigned char>(buffer[offset]) << 8) |
                    static_cast<unsigned char>(buffer[offset + 1]);
    if (fill - offset < length + 2) break;
    on_packet(buffer + offset + 2, length);
    offset += length + 2;
  }
  if (offset > 0) std::memmove(buffer, buffer + offset, fill - offset);
  return fill - offset;
}

void AsyncTcpSocket::ProcessInput(char* buffer, size_t* fill) {
  const SocketAddress remote = GetRemoteAddress();
  *fill = ExtractFrames(buffer, *fill, [&](const char* data, size_t length) {
    ReadPacket.Emit(data, length, remote, this);
  });
}

void AsyncTcpSocket::OnConnectEvent(EventSocket*) { ConnectEvent.Emit(this); }

void AsyncTcpSocket::OnReadEvent(EventSocket*) {
  int n = socket_->Recv(in_.get() + in_fill_, kBufferSize - in_fill_);
  if (n < 0) {
    if (!IsBlockingError(socket_->GetError())) {
      LOG(kInfo) << "recvfrom: " << socket_->GetError();
    }
    return;
  }
  in_fill_ += static_cast<size_t>(n);
  ProcessInput(in_.get(), &in_fill_);
  if (in_fill_ >= kBufferSize) {
    // Cannot happen with 16-bit lengths; kept as a guard for subclasses that frame differently.
    LOG(kInfo) << "input buffer overflow";
    in_fill_ = 0;
  }
}

void AsyncTcpSocket::OnWriteEvent(EventSocket*) {
  if (out_fill_ > 0) Flush();
}

void AsyncTcpSocket::OnCloseEvent(EventSocket*, int error) {
  // A peer that leaves in the middle of a frame has not closed cleanly, whatever TCP says;
  // the partial frame is dropped.
  if (error == 0 && in_fill_ > 0) {
    LOG(kInfo) << "connection closed inside a frame, " << in_fill_ << " bytes dropped";
    error = kSocketConnectionAborted;
  }
  in_fill_ = 0;
  CloseEvent.Emit(this, error);
}

}  // namespace vexalo
