#include "relayd/sslhelloserveradapter.h"

#include <cstring>

#include "base/net/ssltcpadapter.h"

namespace vexalo {

SslHelloServerAdapter::SslHelloServerAdapter(EventSocket* socket) : BufferedReadAdapter(socket) {
  BufferInput(true);
}

void SslHelloServerAdapter::ProcessInput(char* buffer, size_t* length) {
  const size_t hello = SslTcpAdapter::kClientHelloSize;
  const size_t compared = *length < hello ? *length : hello;
  if (std::memcmp(buffer, SslTcpAdapter::kClientHello, compared) != 0) {
    *length = 0;
    BufferInput(false);
    wrapped()->Close();
    CloseEvent.Emit(this, 0);
    return;
  }
  if (*length < hello) return;
  wrapped()->Send(SslTcpAdapter::kServerHello, SslTcpAdapter::kServerHelloSize);
  *length -= hello;
  std::memmove(buffer, buffer + hello, *length);
  BufferInput(false);
  if (*length > 0) ReadEvent.Emit(this);
}

}  // namespace vexalo
