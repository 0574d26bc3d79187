#pragma once

#include <cstdint>
#include <memory>

#include "base/net/dispatcher.h"
#include "base/net/physicalsocket.h"

namespace vexalo {

class AsyncResolver;
class SignalThread;

// A non-blocking PhysicalSocket registered with its hub, which turns readiness into the
// socket's signals: ReadEvent and WriteEvent once per readiness (re-armed by the next
// would-block or read), ConnectEvent when a connect completes, and CloseEvent, with the
// error, for a failed connect or a closed connection, but only after every byte received
// before the close could be read.
class SocketDispatcher : public PhysicalSocket, public Dispatcher {
 public:
  explicit SocketDispatcher(PhysicalSocketServer* hub);
  ~SocketDispatcher() override;

  bool Create(int type) override;
  // Takes over an accepted, connected descriptor.
  bool Adopt(int fd, int type);
  // An unresolved address is looked up without blocking this thread; the connect follows.
  int Connect(const SocketAddress& address) override;
  int Close() override;

  // Non-zero while the socket is open; changes with every Create.
  uint32_t id() const { return id_; }

  // Dispatcher
  int GetDescriptor() override { return fd_; }
  uint32_t GetEpollInterest() override;
  void OnEpollEvents(uint32_t epoll_events) override;
  bool IsClosePending() override { return pending_close_; }
  bool ServicePendingClose() override;

 protected:
  void EnableEvents(uint32_t flags) override;
  void DisableEvents(uint32_t flags) override;

 private:
  void Register(int type);
  void OnPreEvent(uint32_t flags);
  void OnEvent(uint32_t flags, int error);
  void OnResolved(SignalThread* resolver);
  void CancelResolve();

  uint32_t id_ = 0;
  uint32_t enabled_ = 0;
  // False once the dispatcher is gone: an event handler may delete its socket.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  bool pending_close_ = false;
  bool close_reported_ = false;
  int close_error_ = 0;
  uint16_t resolve_port_ = 0;
  AsyncResolver* resolver_ = nullptr;
};

}  // namespace vexalo
