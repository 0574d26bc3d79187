#pragma once

#include <memory>

#include "p2p/base/port.h"

namespace vexalo {

// A port on a UDP socket bound to one network's address; its candidate is that local address.
class UdpPort : public Port {
 public:
  UdpPort(EventQueue* thread, SocketHub* factory, const Network& network,
          const SocketAddress& local_address);
  ~UdpPort() override;

  void PrepareAddress() override;
  Connection* CreateConnection(const Candidate& remote, CandidateOrigin origin) override;
  int SendTo(const char* data, size_t size, const SocketAddress& address,
             bool is_payload) override;
  int SetOption(SocketOption option, int value) override;
  int GetError() override { return error_; }

  // The bound address of the socket.
  SocketAddress local_address() const;

 protected:
  UdpPort(EventQueue* thread, SocketHub* factory, const Network& network,
          const SocketAddress& local_address, const std::string& type);
  // Every datagram: to the connection of its sender, else as from an unknown address.
  virtual void OnReadPacket(const char* data, size_t size, const SocketAddress& from,
                            PacketSocket* socket);
  PacketSocket* socket() const { return socket_.get(); }

 private:
  std::unique_ptr<PacketSocket> socket_;
  int error_ = 0;
};

}  // namespace vexalo
