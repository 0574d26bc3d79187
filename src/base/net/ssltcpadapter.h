#pragma once

#include "base/net/bufferedreadadapter.h"

namespace vexalo {

// Makes a plain TCP connection look like an SSL session to firewalls that only pass SSL on
// port 443 (the "ssltcp" protocol): a fixed client hello goes out, a fixed server hello must
// come back, and then bytes pass unchanged. Nothing is encrypted here.
class SslTcpAdapter : public BufferedReadAdapter {
 public:
  static constexpr size_t kClientHelloSize = 72;
  static constexpr size_t kServerHelloSize = 79;
  static const unsigned char kClientHello[kClientHelloSize];
  static const unsigned char kServerHello[kServerHelloSize];

  explicit SslTcpAdapter(EventSocket* socket);

  int Connect(const SocketAddress& address) override;

 protected:
  void OnConnectEvent(EventSocket* socket) override;
  void ProcessInput(char* buffer, size_t* length) override;
};

}  // namespace vexalo
