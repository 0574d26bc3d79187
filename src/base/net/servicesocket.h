#pragma once

#include <cstddef>
#include <string>

#include "base/runtime/signal.h"
#include "base/net/socketaddress.h"

namespace vexalo {

// The byte stream the XMPP connection runs over: connect, read, write, switch to TLS, close,
// with notifications. Failures arrive as Closed; GetError and GetSocketError say why.
class ServiceSocket {
 public:
  enum State {
    STATE_CLOSED = 0,
    STATE_CLOSING = 1,
    STATE_CONNECTING = 2,
    STATE_OPEN = 3,
    STATE_TLS_CONNECTING = 4,
    STATE_TLS_OPEN = 5,
  };
  enum Error {
    ERROR_NONE = 0,
    ERROR_WINSOCK = 1,  // a socket error; GetSocketError has it
    ERROR_WRONGSTATE = 3,
    ERROR_SSL = 4,  // TLS could not be started
  };

  virtual ~ServiceSocket() = default;
  virtual State GetState() const = 0;
  virtual Error GetError() const = 0;
  virtual int GetSocketError() const = 0;
  virtual bool Connect(const SocketAddress& address) = 0;
  // Reads what is there; `*count` 0 when nothing is.
  virtual bool Read(char* buffer, size_t size, size_t* count) = 0;
  // Sends or buffers everything; false on failure, or while not yet open.
  virtual bool Write(const char* data, size_t length) = 0;
  virtual bool Close() = 0;
  virtual bool StartTls(const std::string& domain) = 0;

  Signal<> Connected;
  Signal<> TlsConnected;
  Signal<> Closed;
  Signal<> Readable;
};

}  // namespace vexalo
