#include "base/net/socketdispatcher.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include "base/net/asyncresolver.h"
#include "base/runtime/logging.h"
#include "base/net/physicalsocketserver.h"
#include "base/net/socketerrors.h"
#include "base/runtime/threadregistry.h"

namespace vexalo {
namespace {

std::atomic<uint32_t> last_socket_id{0};

uint32_t NextSocketId() {
  uint32_t id;
  do {
    id = ++last_socket_id;
  } while (id == 0);
  return id;
}

int TakeSocketError(int fd) {
  int error = 0;
  socklen_t len = sizeof(error);
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return 0;
  return SocketErrorFromErrno(error);
}

}  // namespace

SocketDispatcher::SocketDispatcher(PhysicalSocketServer* hub) : PhysicalSocket(hub) {}

SocketDispatcher::~SocketDispatcher() {
  *alive_ = false;
  SocketDispatcher::Close();
}

bool SocketDispatcher::Create(int type) {
  Close();
  if (!PhysicalSocket::Create(type)) return false;
  Register(type);
  return true;
}

bool SocketDispatcher::Adopt(int fd, int type) {
  Close();
  fd_ = fd;
  type_ = type;
  int domain = AF_INET;
  socklen_t len = sizeof(domain);
  if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &len) == 0) family_ = domain;
  state_ = CONN_CONNECTED;
  Register(type);
  return true;
}

void SocketDispatcher::Register(int type) {
  (void)type;
  int flags = fcntl(fd_, F_GETFL, 0);
  fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  enabled_ = kfRead | kfWrite;
  pending_close_ = false;
  close_reported_ = false;
  close_error_ = 0;
  id_ = NextSocketId();
  hub_->Add(this);
}

int SocketDispatcher::Close() {
  CancelResolve();
  if (fd_ < 0) return 0;
  id_ = 0;
  pending_close_ = false;
  close_reported_ = false;
  enabled_ = 0;
  hub_->Remove(this);
  return PhysicalSocket::Close();
}

int SocketDispatcher::Connect(const SocketAddress& address) {
  if (fd_ < 0 && !Create(kStreamSocket)) return -1;
  if (!address.IsUnresolved() || !ThreadRegistry::Current()) {
    return PhysicalSocket::Connect(address);
  }
  CancelResolve();
  LOG(kInfo) << "Resolving addr in PhysicalSocket::Connect";
  resolve_port_ = address.port();
  resolver_ = new AsyncResolver(address.hostname());
  resolver_->WorkDone.Connect(this, &SocketDispatcher::OnResolved);
  resolver_->Start();
  state_ = CONN_CONNECTING;
  error_ = kSocketWouldBlock;
  return -1;
}

void SocketDispatcher::OnResolved(SignalThread* thread) {
  auto* resolver = static_cast<AsyncResolver*>(thread);
  if (resolver != resolver_) return;
  uint32_t ip = resolver->ip();
  SocketAddress target(resolver->hostname(), resolve_port_, false);
  target.SetResolvedIP(ip);
  CancelResolve();
  if (ip == 0) {
    error_ = kSocketHostNotFound;
    pending_close_ = true;
    close_error_ = kSocketHostNotFound;
    hub_->Update(this);
    return;
  }
  if (DoConnect(target) == 0) {
    EnableEvents(kfConnect);  // report the completed connect like any other
  } else if (!IsBlockingError(error_)) {
    pending_close_ = true;
    close_error_ = error_;
    hub_->Update(this);
  }
}

void SocketDispatcher::CancelResolve() {
  if (!resolver_) return;
  resolver_->WorkDone.Disconnect(this);
  resolver_->Destroy();
  resolver_ = nullptr;
}

void SocketDispatcher::EnableEvents(uint32_t flags) {
  if ((enabled_ & flags) == flags) return;
  enabled_ |= flags;
  hub_->Update(this);
}

void SocketDispatcher::DisableEvents(uint32_t flags) {
  if ((enabled_ & flags) == 0) return;
  enabled_ &= ~flags;
  hub_->Update(this);
}

uint32_t SocketDispatcher::GetEpollInterest() {
  if (fd_ < 0 || pending_close_ || close_reported_ || resolver_) return 0;
  bool stream = type_ == kStreamSocket;
  // An unconnected stream socket reports a hang-up at once; keep it out until it connects or
  // listens.
  if (stream && state_ == CONN_CLOSED && !listening_) return 0;
  uint32_t events = 0;
  if (enabled_ & kfRead) events |= EPOLLIN;
  if (enabled_ & (kfWrite | kfConnect)) events |= EPOLLOUT;
  if (stream && !listening_) events |= EPOLLRDHUP;
  return events;
}

void SocketDispatcher::OnEpollEvents(uint32_t ev) {
  uint32_t flags = 0;
  int error = 0;
  const bool hangup = ev & (EPOLLERR | EPOLLHUP | EPOLLRDHUP);
  if (type_ != kStreamSocket) {
    // Datagram sockets: an error (an ICMP report) is picked up and dropped; the socket goes on.
    if (ev & EPOLLERR) {
      int dropped = TakeSocketError(fd_);
      LOG(kVerbose) << "datagram socket error " << dropped;
    }
    if ((ev & EPOLLIN) && (enabled_ & kfRead)) flags |= kfRead;
    if ((ev & EPOLLOUT) && (enabled_ & kfWrite)) flags |= kfWrite;
  } else if (enabled_ & kfConnect) {
    if (ev & (EPOLLOUT | EPOLLERR | EPOLLHUP)) {
      error = TakeSocketError(fd_);
      if (error == 0 && (ev & (EPOLLERR | EPOLLHUP))) error = kSocketConnectionRefused;
      if (error == 0) {
        flags = kfConnect;
      } else {
        LOG(kWarning) << "PhysicalSocketServer got FD_CONNECT_BIT error " << error;
        flags = kfClose;
      }
    }
  } else {
    if ((ev & EPOLLIN) && (enabled_ & kfRead)) flags |= kfRead;
    if ((ev & EPOLLOUT) && (enabled_ & kfWrite)) flags |= kfWrite;
    if (hangup && !listening_) {
      flags |= kfClose;
      if (ev & EPOLLERR) error = TakeSocketError(fd_);
      if (error != 0) LOG(kWarning) << "PhysicalSocketServer got FD_CLOSE_BIT error " << error;
    }
  }
  if (flags == 0) return;
  OnPreEvent(flags);
  OnEvent(flags, error);
}

void SocketDispatcher::OnPreEvent(uint32_t flags) {
  if (flags & kfConnect) state_ = CONN_CONNECTED;
}

void SocketDispatcher::OnEvent(uint32_t flags, int error) {
  // A handler that deletes, closes or re-creates the socket stops the rest of this round's
  // events.
  const uint32_t id = id_;
  const std::shared_ptr<bool> alive = alive_;
  auto still_ours = [&] { return *alive && id_ == id; };
  if (flags & kfRead) {
    DisableEvents(kfRead);
    ReadEvent.Emit(this);
  }
  if ((flags & kfWrite) && still_ours()) {
    DisableEvents(kfWrite);
    WriteEvent.Emit(this);
  }
  if ((flags & kfConnect) && still_ours()) {
    if (flags != kfConnect) LOG(kVerbose) << "Signalled with kfConnect: " << flags;
    DisableEvents(kfConnect);
    ConnectEvent.Emit(this);
  }
  if ((flags & kfClose) && still_ours()) {
    pending_close_ = true;
    close_error_ = error;
    hub_->Update(this);
  }
}

bool SocketDispatcher::ServicePendingClose() {
  if (!pending_close_) return false;
  char byte;
  ssize_t n = fd_ >= 0 ? recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) : -1;
  if (n > 0) {
    // Data first: the reader drains the socket before it hears of the close.
    if (!(enabled_ & kfRead)) return false;
    DisableEvents(kfRead);
    ReadEvent.Emit(this);
    return true;
  }
  pending_close_ = false;
  close_reported_ = true;
  hub_->Update(this);
  CloseEvent.Emit(this, close_error_);
  return false;
}

}  // namespace vexalo
