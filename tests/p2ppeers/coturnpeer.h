#pragma once

// coturn as a plain STUN server on 127.0.0.1, in a folder of its own.
#include <string>

#include "base/socketaddress.h"
#include "support/peerprocess.h"

namespace vexalo {

class CoturnPeer {
 public:
  explicit CoturnPeer(const std::string& listen_ip = "127.0.0.1")
      : ip_(listen_ip), port_(FreeLoopbackPort()) {}

  bool Start() {
    started_ = process_.Start({"turnserver", "-n", "--stun-only", "--listening-ip", ip_,
                               "--listening-port", std::to_string(port_), "--userdb",
                               dir_.path() + "/db", "--pidfile", dir_.path() + "/pid",
                               "--no-cli", "--no-tls", "--no-dtls", "--log-file", "stdout"},
                              port_, dir_.path() + "/out.log", &error_);
    return started_;
  }
  void Stop() { process_.Stop(); }

  SocketAddress address() const {
    SocketAddress address;
    SocketAddress::FromString(ip_ + ":" + std::to_string(port_), &address);
    return address;
  }
  const std::string& error() const { return error_; }

 private:
  std::string ip_;
  TempDir dir_;
  uint16_t port_;
  PeerProcess process_;
  bool started_ = false;
  std::string error_;
};

}  // namespace vexalo
