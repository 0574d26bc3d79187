#pragma once

#include <cstdint>

#include "p2p/base/stuntransactiontable.h"
#include "p2p/base/udpport.h"

namespace vexalo {

// A UDP port whose candidate is the public address a STUN server sees for its socket. It asks
// again every 10 s so the NAT keeps the mapping open; checks and media share the socket.
class StunPort : public UdpPort {
 public:
  StunPort(EventQueue* thread, SocketHub* factory, const Network& network,
           const SocketAddress& local_address, const SocketAddress& server);
  ~StunPort() override;

  void PrepareAddress() override;

  const SocketAddress& server() const { return server_; }
  StunTransactionTable* requests() { return &requests_; }
  // Answers to our binding requests that came from somewhere other than the server: dropped.
  uint64_t foreign_responses() const { return foreign_responses_; }

 protected:
  void OnReadPacket(const char* data, size_t size, const SocketAddress& from,
                    PacketSocket* socket) override;

 private:
  void SendToServer(const char* data, size_t size);
  bool IsServer(const SocketAddress& address) const;

  SocketAddress server_;
  StunTransactionTable requests_;
  uint64_t foreign_responses_ = 0;
};

}  // namespace vexalo
