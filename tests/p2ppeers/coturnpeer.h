#pragma once

// coturn as a plain STUN server on 127.0.0.1, in a folder of its own.
#include <string>

#include "support/peers/proxypeers.h"

namespace vexalo {

class CoturnPeer : public ProxyPeer {
 public:
  CoturnPeer() {
    const std::string& d = dir_.path();
    Run({"turnserver", "-n", "--stun-only", "--listening-ip", "127.0.0.1", "--listening-port",
         std::to_string(port_), "--userdb", d + "/db", "--pidfile", d + "/pid", "--no-cli",
         "--no-tls", "--no-dtls", "--log-file", "stdout"});
  }
  void Stop() { process().Stop(); }
};

}  // namespace vexalo
