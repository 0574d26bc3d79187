#pragma once

#include <cstddef>

namespace vexalo {

class PseudoTcp;

// What a PseudoTcp asks of the one who carries its packets and reads its stream.
class PseudoTcpOwner {
 public:
  enum WriteResult { WR_SUCCESS = 0, WR_TOO_LARGE = 1, WR_WOULD_BLOCK = 2, WR_FAILED = 3 };

  virtual ~PseudoTcpOwner() = default;
  virtual void OnTcpOpen(PseudoTcp* tcp) = 0;
  virtual void OnTcpReadable(PseudoTcp* tcp) = 0;
  virtual void OnTcpWriteable(PseudoTcp* tcp) = 0;
  virtual void OnTcpClosed(PseudoTcp* tcp, int error) = 0;
  // WR_TOO_LARGE: the datagram exceeds the path MTU.
  virtual WriteResult TcpWritePacket(PseudoTcp* tcp, const char* bytes, size_t length) = 0;
};

}  // namespace vexalo
