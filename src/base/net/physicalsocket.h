#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include "base/net/eventsocket.h"

namespace vexalo {

class PhysicalSocketServer;

// An EventSocket over an operating-system socket. On its own it is a blocking socket; the
// SocketDispatcher subclass makes it non-blocking and event driven.
class PhysicalSocket : public EventSocket {
 public:
  explicit PhysicalSocket(PhysicalSocketServer* hub);
  ~PhysicalSocket() override;

  // Closes any open socket and makes a new one of the given type, of the address family of
  // the last Bind or Connect (IPv4 at first).
  virtual bool Create(int type);

  SocketAddress GetLocalAddress() const override;
  SocketAddress GetRemoteAddress() const override;
  int Bind(const SocketAddress& address) override;
  int Connect(const SocketAddress& address) override;
  int Send(const void* data, size_t length) override;
  int SendTo(const void* data, size_t length, const SocketAddress& address) override;
  int Recv(void* buffer, size_t size) override;
  int RecvFrom(void* buffer, size_t size, SocketAddress* from) override;
  int Listen(int backlog) override;
  EventSocket* Accept(SocketAddress* from) override;
  int Close() override;
  int GetError() const override { return error_; }
  void SetError(int error) override { error_ = error; }
  ConnState GetState() const override { return state_; }
  int EstimateMTU(uint16_t* mtu) override;
  int SetOption(SocketOption option, int value) override;

  int descriptor() const { return fd_; }
  int type() const { return type_; }

  // The largest plateau of the classic MTU plateau table that is not above `mtu`, or 0.
  static uint16_t SnapToPlateau(int mtu);

 protected:
  // Connects to a resolved address; -1 with a would-block error while in progress.
  int DoConnect(const SocketAddress& address);
  // Re-creates the (still unused) socket when `address` is of the other family.
  bool MatchFamily(const SocketAddress& address);
  void RecordErrno();
  void DiscardUnreadInput();
  // A send's result: the count, or -1 with the error recorded and writes re-armed on would-block.
  int SendResult(ssize_t sent);
  // Event sockets re-arm these after would-block results; a blocking socket ignores them.
  virtual void EnableEvents(uint32_t flags) { (void)flags; }
  virtual void DisableEvents(uint32_t flags) { (void)flags; }

  PhysicalSocketServer* hub_;
  int fd_ = -1;
  int type_ = 0;
  int family_ = AF_INET;
  int error_ = 0;
  ConnState state_ = CONN_CLOSED;
  bool listening_ = false;
};

}  // namespace vexalo
