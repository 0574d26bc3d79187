#include "p2p/base/datagramconnection.h"

#include "base/net/socketerrors.h"
#include "p2p/base/port.h"

namespace vexalo {

int DatagramConnection::Send(const char* data, size_t size) {
  if (write_state() != STATE_WRITE_CONFIRMED) {
    error_ = kSocketWouldBlock;
    return -1;
  }
  int sent = port()->SendTo(data, size, remote_candidate().address, true);
  if (sent > 0) {
    AddBytesSent(static_cast<size_t>(sent));
  } else {
    error_ = port()->GetError();
  }
  return sent;
}

}  // namespace vexalo
