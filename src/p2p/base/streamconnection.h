#pragma once

#include <memory>

#include "base/net/asynctcpsocket.h"
#include "p2p/base/connection.h"

namespace vexalo {

class TcpPort;

// A connection over one framed TCP stream: an accepted one handed over by the port, or one it
// dials itself (through the proxy, and the SSL-TCP framing for "ssltcp" candidates).
class StreamConnection : public Connection {
 public:
  // With a null `socket` the connection dials the remote address.
  StreamConnection(TcpPort* port, const Candidate& remote, AsyncTcpSocket* socket);
  ~StreamConnection() override;

  int Send(const char* data, size_t size) override;
  int GetError() override { return error_; }
  AsyncTcpSocket* socket() const { return socket_.get(); }

 private:
  void OnSocketPacket(const char* data, size_t size, const SocketAddress& from,
                      PacketSocket* socket);
  void OnSocketConnect(PacketSocket* socket);
  void OnSocketClose(PacketSocket* socket, int error);

  std::unique_ptr<AsyncTcpSocket> socket_;
  int error_ = 0;
};

}  // namespace vexalo
