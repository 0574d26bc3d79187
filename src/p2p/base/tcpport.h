#pragma once

#include <list>
#include <memory>

#include "base/net/asynctcpsocket.h"
#include "p2p/base/port.h"

namespace vexalo {

// A port that lets the peer reach us over TCP (a listening socket whose address is the "tcp"
// candidate) and reaches the peer's TCP and SSL-TCP candidates, through the proxy when one is
// set. Every connection is one framed TCP stream, so checks and media travel as packets.
class TcpPort : public Port {
 public:
  static constexpr uint32_t kDropClosedMessage = 2;
  // Accepted connections wait at most this long, and at most this many at once, for the
  // peer's first check to claim them: strangers cannot pile up sockets.
  static constexpr size_t kMaxIncoming = 32;
  static constexpr int kIncomingLifetimeMs = 30000;

  TcpPort(EventQueue* thread, SocketHub* factory, const Network& network,
          const SocketAddress& local_address);
  ~TcpPort() override;

  void HandleMessage(QueuedMessage* msg) override;
  void PrepareAddress() override;
  Connection* CreateConnection(const Candidate& remote, CandidateOrigin origin) override;
  int SendTo(const char* data, size_t size, const SocketAddress& address,
             bool is_payload) override;
  int SetOption(SocketOption option, int value) override;
  int GetError() override { return error_; }

  SocketAddress local_address() const;
  size_t incoming_count() const { return incoming_.size(); }

 private:
  struct Incoming {
    SocketAddress address;
    std::unique_ptr<AsyncTcpSocket> socket;
    Tick accepted;
    bool closed = false;
  };

  void OnAcceptEvent(EventSocket* socket);
  void OnIncomingPacket(const char* data, size_t size, const SocketAddress& from,
                        PacketSocket* socket);
  void OnIncomingClose(PacketSocket* socket, int error);
  void DropStaleIncoming();
  std::list<Incoming>::iterator FindIncoming(const SocketAddress& address);

  std::unique_ptr<EventSocket> listen_socket_;
  bool incoming_only_;
  std::list<Incoming> incoming_;
  int error_ = 0;
};

}  // namespace vexalo
