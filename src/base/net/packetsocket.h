#pragma once

#include <cstddef>

#include "base/net/eventsocket.h"

namespace vexalo {

// A datagram-style interface over UDP or framed TCP, for the peer-to-peer layer. Owns the
// socket it wraps.
class PacketSocket : public SlotHost {
 public:
  explicit PacketSocket(EventSocket* socket) : socket_(socket) {}
  ~PacketSocket() override { delete socket_; }
  PacketSocket(const PacketSocket&) = delete;
  PacketSocket& operator=(const PacketSocket&) = delete;

  virtual SocketAddress GetLocalAddress() const { return socket_->GetLocalAddress(); }
  virtual SocketAddress GetRemoteAddress() const { return socket_->GetRemoteAddress(); }
  virtual int Bind(const SocketAddress& address) { return socket_->Bind(address); }
  virtual int Connect(const SocketAddress& address) { return socket_->Connect(address); }
  virtual int Send(const void* data, size_t length) { return socket_->Send(data, length); }
  virtual int SendTo(const void* data, size_t length, const SocketAddress& address) {
    return socket_->SendTo(data, length, address);
  }
  virtual int Close() { return socket_->Close(); }
  virtual int SetOption(SocketOption option, int value) {
    return socket_->SetOption(option, value);
  }
  virtual int GetError() const { return socket_->GetError(); }
  virtual void SetError(int error) { socket_->SetError(error); }

  EventSocket* socket() const { return socket_; }

  // One received packet: data, size, sender, this socket. The data is valid only during the
  // call; listeners copy what they keep.
  Signal<const char*, size_t, const SocketAddress&, PacketSocket*> ReadPacket;

 protected:
  EventSocket* socket_;
};

}  // namespace vexalo
