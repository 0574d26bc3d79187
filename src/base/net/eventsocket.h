#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

#include "base/runtime/signal.h"
#include "base/net/socketaddress.h"

namespace vexalo {

enum ConnState { CONN_CLOSED = 0, CONN_CONNECTING = 1, CONN_CONNECTED = 2 };

// OPT_NODELAY sends small writes at once (no Nagle): packets of a call must not wait for the
// peer's delayed acknowledgement.
enum SocketOption { OPT_DONT_FRAGMENT = 0, OPT_NODELAY = 1 };

// Socket types, with the values the operating system uses.
inline constexpr int kStreamSocket = SOCK_STREAM;
inline constexpr int kDatagramSocket = SOCK_DGRAM;

// An event-driven socket. Operations return a byte count or 0 on success and -1 on failure
// with the reason in GetError (one of the system's socket error numbers); a would-block
// failure means "wait for the next event", not failure. Events come as signals on the thread
// of the hub that made the socket.
class EventSocket : public SlotHost {
 public:
  ~EventSocket() override = default;

  virtual SocketAddress GetLocalAddress() const = 0;
  virtual SocketAddress GetRemoteAddress() const = 0;
  virtual int Bind(const SocketAddress& address) = 0;
  virtual int Connect(const SocketAddress& address) = 0;
  virtual int Send(const void* data, size_t length) = 0;
  virtual int SendTo(const void* data, size_t length, const SocketAddress& address) = 0;
  virtual int Recv(void* buffer, size_t size) = 0;
  virtual int RecvFrom(void* buffer, size_t size, SocketAddress* from) = 0;
  virtual int Listen(int backlog) = 0;
  // A connected socket for the next waiting connection, or null.
  virtual EventSocket* Accept(SocketAddress* from) = 0;
  virtual int Close() = 0;
  virtual int GetError() const = 0;
  virtual void SetError(int error) = 0;
  virtual ConnState GetState() const = 0;
  // The path MTU towards the connected peer: 0 with `mtu` set, or -1.
  virtual int EstimateMTU(uint16_t* mtu) = 0;
  virtual int SetOption(SocketOption option, int value) = 0;

  Signal<EventSocket*> ReadEvent;
  Signal<EventSocket*> WriteEvent;
  Signal<EventSocket*> ConnectEvent;
  Signal<EventSocket*, int> CloseEvent;
};

}  // namespace vexalo
