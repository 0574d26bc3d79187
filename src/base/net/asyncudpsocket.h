#pragma once

#include <memory>

#include "base/net/packetsocket.h"

namespace vexalo {

// Passes datagrams through: one datagram is read per read event, so a flood cannot keep the
// thread from other work.
class AsyncUdpSocket : public PacketSocket {
 public:
  static constexpr size_t kBufferSize = 65536;

  explicit AsyncUdpSocket(EventSocket* socket);

 private:
  void OnReadEvent(EventSocket* socket);

  std::unique_ptr<char[]> buffer_;
};

}  // namespace vexalo
