#pragma once

#include <memory>

#include "base/net/eventsocket.h"

namespace vexalo {

// An EventSocket that owns and wraps another one and forwards everything to it. Subclasses
// add behaviour (proxy dialogue, TLS, traffic logging, filtering) by overriding operations and
// the four event handlers, which by default re-emit the event as the adapter's own.
class SocketAdapter : public EventSocket {
 public:
  explicit SocketAdapter(EventSocket* socket);
  ~SocketAdapter() override;

  SocketAddress GetLocalAddress() const override { return socket_->GetLocalAddress(); }
  SocketAddress GetRemoteAddress() const override { return socket_->GetRemoteAddress(); }
  int Bind(const SocketAddress& address) override { return socket_->Bind(address); }
  int Connect(const SocketAddress& address) override { return socket_->Connect(address); }
  int Send(const void* data, size_t length) override { return socket_->Send(data, length); }
  int SendTo(const void* data, size_t length, const SocketAddress& address) override {
    return socket_->SendTo(data, length, address);
  }
  int Recv(void* buffer, size_t size) override { return socket_->Recv(buffer, size); }
  int RecvFrom(void* buffer, size_t size, SocketAddress* from) override {
    return socket_->RecvFrom(buffer, size, from);
  }
  int Listen(int backlog) override { return socket_->Listen(backlog); }
  EventSocket* Accept(SocketAddress* from) override { return socket_->Accept(from); }
  int Close() override { return socket_->Close(); }
  int GetError() const override { return socket_->GetError(); }
  void SetError(int error) override { socket_->SetError(error); }
  ConnState GetState() const override { return socket_->GetState(); }
  int EstimateMTU(uint16_t* mtu) override { return socket_->EstimateMTU(mtu); }
  int SetOption(SocketOption option, int value) override {
    return socket_->SetOption(option, value);
  }

  EventSocket* wrapped() const { return socket_; }

 protected:
  virtual void OnConnectEvent(EventSocket* socket);
  virtual void OnReadEvent(EventSocket* socket);
  virtual void OnWriteEvent(EventSocket* socket);
  virtual void OnCloseEvent(EventSocket* socket, int error);

  EventSocket* socket_;
};

}  // namespace vexalo
