#pragma once

#include <string>

#include "base/net/bufferedreadadapter.h"
#include "base/runtime/secrettext.h"

namespace vexalo {

// Tunnels a TCP connection through a SOCKS5 proxy (with user/password authentication when a
// user name is set). ConnectEvent comes once the proxy has connected the destination.
class AsyncSocks5ProxySocket : public BufferedReadAdapter {
 public:
  enum State { SS_HELLO = 0, SS_AUTH = 1, SS_CONNECT = 2, SS_TUNNEL = 3, SS_ERROR = 4 };

  AsyncSocks5ProxySocket(EventSocket* socket, const SocketAddress& proxy,
                         const std::string& username, const SecretText& password);

  // The destination, not the proxy.
  SocketAddress GetRemoteAddress() const override { return destination_; }
  int Connect(const SocketAddress& destination) override;
  int Close() override;
  State state() const { return state_; }

 protected:
  void OnConnectEvent(EventSocket* socket) override;
  void ProcessInput(char* buffer, size_t* length) override;
  void OnBufferOverflow() override;

 private:
  bool SendAuthRequest();
  bool SendConnectRequest();
  void Fail(int error);

  SocketAddress proxy_;
  SocketAddress destination_;
  std::string username_;
  SecretText password_;
  State state_ = SS_HELLO;
};

}  // namespace vexalo
