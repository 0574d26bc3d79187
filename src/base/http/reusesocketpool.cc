#include "base/http/reusesocketpool.h"

#include "base/http/httpsocketfactory.h"
#include "base/runtime/logging.h"
#include "base/net/socketerrors.h"

namespace vexalo {
namespace {

// The same server: the same name (or ip when there is no name) and port.
bool SameServer(const SocketAddress& a, const SocketAddress& b) {
  if (a.port() != b.port()) return false;
  if (!a.hostname().empty() || !b.hostname().empty()) return a.hostname() == b.hostname();
  return a.EqualIPs(b);
}

}  // namespace

ReuseSocketPool::ReuseSocketPool(HttpSocketFactory* factory) : factory_(factory) {}

ReuseSocketPool::~ReuseSocketPool() { Watch(false); }

EventSocket* ReuseSocketPool::RequestConnectedSocket(const SocketAddress& address, bool secure,
                                                     int* error, bool* reused) {
  if (reused) *reused = false;
  Watch(false);
  if (socket_ && socket_->GetState() == CONN_CONNECTED && secure == secure_ &&
      SameServer(address, address_)) {
    LOG(kInfo) << "ReuseSocketPool - Reusing connection to: " << address.ToString();
    if (reused) *reused = true;
    *error = 0;
    return socket_.get();
  }
  // A TLS socket is bound to its server's name, a proxy socket to its destination: a new
  // server gets a new stack.
  if (!socket_ || secure != secure_ || !SameServer(address, address_)) {
    LOG(kInfo) << "ReuseSocketPool - Creating new socket";
    socket_.reset();
    std::string tls_host;
    if (secure) tls_host = address.hostname().empty() ? address.IPAsString() : address.hostname();
    // Plain HTTP for an HTTP proxy is addressed to the proxy itself: no tunnel.
    const bool direct = !secure && factory_->ProxiesPlainHttp(nullptr);
    socket_.reset(factory_->CreateStreamSocket(tls_host, direct));
    if (!socket_) {
      *error = -1;
      return nullptr;
    }
  } else {
    socket_->Close();
  }
  address_ = address;
  secure_ = secure;
  LOG(kInfo) << "ReuseSocketPool - Opening connection to: " << address.ToString();
  if (socket_->Connect(address) < 0 && !IsBlockingError(socket_->GetError())) {
    *error = socket_->GetError();
    if (*error == 0) *error = -1;
    socket_.reset();
    return nullptr;
  }
  *error = 0;
  return socket_.get();
}

void ReuseSocketPool::ReleaseConnectedSocket(EventSocket* socket) {
  if (socket != socket_.get()) {
    delete socket;  // not ours: nobody else will free it
    return;
  }
  if (socket_ && socket_->GetState() == CONN_CONNECTED) Watch(true);
}

bool ReuseSocketPool::ProxiesPlainHttp(SocketAddress* proxy) const {
  return factory_->ProxiesPlainHttp(proxy);
}

void ReuseSocketPool::Watch(bool on) {
  if (!socket_) return;
  socket_->ReadEvent.Disconnect(this);
  socket_->CloseEvent.Disconnect(this);
  if (!on) return;
  socket_->ReadEvent.Connect(this, &ReuseSocketPool::OnIdleRead);
  socket_->CloseEvent.Connect(this, &ReuseSocketPool::OnIdleClose);
  // Anything already waiting (or a close) shows up on the next read attempt.
  OnIdleRead(socket_.get());
}

void ReuseSocketPool::OnIdleRead(EventSocket* socket) {
  char byte;
  int result = socket->Recv(&byte, 1);
  if (result < 0 && IsBlockingError(socket->GetError())) return;
  // Data nobody asked for, the end of the connection, or an error: not reusable.
  LOG(kInfo) << "ReuseSocketPool - idle connection closed";
  Watch(false);
  socket->Close();
}

void ReuseSocketPool::OnIdleClose(EventSocket* socket, int) {
  Watch(false);
  socket->Close();
}

}  // namespace vexalo
