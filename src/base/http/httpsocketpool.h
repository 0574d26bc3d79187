#pragma once

#include "base/net/eventsocket.h"

namespace vexalo {

// Where HTTP exchanges get their connections.
class HttpSocketPool {
 public:
  virtual ~HttpSocketPool() = default;
  // A socket connected or connecting to `address` (a name is resolved by the socket layer),
  // speaking TLS to the address's host name when `secure`. Null with *error set on failure.
  // *reused (may be null) tells whether the connection served an earlier exchange: such a
  // connection may have been closed by the server meanwhile. The pool keeps ownership.
  virtual EventSocket* RequestConnectedSocket(const SocketAddress& address, bool secure,
                                              int* error, bool* reused) = 0;
  // Gives back a socket from RequestConnectedSocket, open (for the next exchange) or closed.
  virtual void ReleaseConnectedSocket(EventSocket* socket) = 0;
  // True (with the proxy's address) when plain HTTP goes to an HTTP proxy, which then needs
  // absolute request targets.
  virtual bool ProxiesPlainHttp(SocketAddress* proxy) const {
    (void)proxy;
    return false;
  }
};

}  // namespace vexalo
