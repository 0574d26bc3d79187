#pragma once

#include <memory>

#include "base/http/httpsocketpool.h"
#include "base/runtime/signal.h"

namespace vexalo {

class HttpSocketFactory;

// A pool of one connection: the next request for the same server (and the same TLS choice)
// reuses it while it is open; any other request replaces it. While the connection waits
// between exchanges, the pool watches it, so a server that closes an idle keep-alive
// connection (or sends anything unasked) gets it closed here rather than reused.
class ReuseSocketPool : public HttpSocketPool, public SlotHost {
 public:
  // `factory` is not owned.
  explicit ReuseSocketPool(HttpSocketFactory* factory);
  ~ReuseSocketPool() override;

  EventSocket* RequestConnectedSocket(const SocketAddress& address, bool secure, int* error,
                                      bool* reused) override;
  void ReleaseConnectedSocket(EventSocket* socket) override;
  bool ProxiesPlainHttp(SocketAddress* proxy) const override;

  // The kept socket, for tests.
  EventSocket* socket() const { return socket_.get(); }

 private:
  void Watch(bool on);
  void OnIdleRead(EventSocket* socket);
  void OnIdleClose(EventSocket* socket, int error);

  HttpSocketFactory* factory_;
  std::unique_ptr<EventSocket> socket_;
  SocketAddress address_;
  bool secure_ = false;
};

}  // namespace vexalo
