#pragma once

#include "p2p/base/connection.h"

namespace vexalo {

// The connection of the datagram ports: data goes out through the port's socket to the
// remote address, once the pair is confirmed writable.
class DatagramConnection : public Connection {
 public:
  DatagramConnection(Port* port, size_t local_candidate_index, const Candidate& remote)
      : Connection(port, local_candidate_index, remote) {}

  int Send(const char* data, size_t size) override;
  int GetError() override { return error_; }

 private:
  int error_ = 0;
};

}  // namespace vexalo
