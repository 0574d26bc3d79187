#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/net/bufferedreadadapter.h"
#include "base/proxy/httpauthenticate.h"
#include "base/runtime/secrettext.h"

namespace vexalo {

// Tunnels a TCP connection through an HTTP proxy with CONNECT, answering its authentication
// challenges (Basic, Digest, NTLM, Negotiate). Connections to port 80 need no tunnel: the
// user then speaks HTTP to the proxy itself.
class AsyncHttpsProxySocket : public BufferedReadAdapter {
 public:
  enum State {
    PS_LEADER = 0,
    PS_AUTHENTICATE = 1,
    PS_SKIP_HEADERS = 2,
    PS_ERROR_HEADERS = 3,
    PS_TUNNEL_HEADERS = 4,
    PS_SKIP_BODY = 5,
    PS_TUNNEL = 6,
    PS_WAIT_CLOSE = 7,
    PS_INIT = 8,
  };

  // A proxy's answer may not exceed these before the attempt is given up.
  static constexpr size_t kMaxHeaderBytes = 16 * 1024;
  static constexpr size_t kMaxBodyBytes = 1024 * 1024;

  AsyncHttpsProxySocket(EventSocket* socket, const std::string& user_agent,
                        const SocketAddress& proxy, const std::string& username,
                        const SecretText& password);

  SocketAddress GetRemoteAddress() const override { return destination_; }
  int Connect(const SocketAddress& destination) override;
  int Close() override;
  State state() const { return state_; }

  // Shown once per process when a proxy offers only mechanisms we cannot use: title, text.
  using IncompatibleProxyHandler = std::function<void(const std::string&, const std::string&)>;
  static void SetIncompatibleProxyHandler(IncompatibleProxyHandler handler);
  static void SetSupportFormAddress(const std::string& address);

 protected:
  void OnConnectEvent(EventSocket* socket) override;
  void OnCloseEvent(EventSocket* socket, int error) override;
  void ProcessInput(char* buffer, size_t* length) override;
  void OnBufferOverflow() override;

 private:
  void SendRequest();
  void ProcessLine(const std::string& line);
  void EndResponse();
  void ReportIncompatibleProxy();
  void Fail(int error);

  std::string user_agent_;
  SocketAddress proxy_;
  SocketAddress destination_;
  std::string username_;
  SecretText password_;
  std::string extra_headers_;
  int error_ = 0;
  State state_ = PS_INIT;
  std::unique_ptr<HttpAuthContext> auth_context_;
  std::string ignored_mechanisms_;
  bool expect_close_ = true;
  bool new_connection_ = false;  // the next request starts a new exchange on a new connection
  size_t content_length_ = 0;
  size_t header_bytes_ = 0;
};

}  // namespace vexalo
