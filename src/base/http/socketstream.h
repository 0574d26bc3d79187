#pragma once

#include "base/http/datastream.h"
#include "base/net/eventsocket.h"

namespace vexalo {

// A connected (or connecting) socket seen as a DataStream. It owns the socket until Detach
// hands it back, so a pool can lend a connection to an HTTP exchange and take it back after.
class SocketStream : public DataStream {
 public:
  // Takes ownership of `socket` (may be null).
  explicit SocketStream(EventSocket* socket = nullptr);
  ~SocketStream() override;
  SocketStream(const SocketStream&) = delete;
  SocketStream& operator=(const SocketStream&) = delete;

  // Takes `socket`, deleting the one held before.
  void Attach(EventSocket* socket);
  // Lets go of the socket (its events are no longer followed) and returns it.
  EventSocket* Detach();
  EventSocket* socket() const { return socket_; }

  StreamState GetState() const override;
  StreamResult Read(void* buffer, size_t length, size_t* read, int* error) override;
  StreamResult Write(const void* data, size_t length, size_t* written, int* error) override;
  void Close() override;

 private:
  void OnConnectEvent(EventSocket* socket);
  void OnReadEvent(EventSocket* socket);
  void OnWriteEvent(EventSocket* socket);
  void OnCloseEvent(EventSocket* socket, int error);

  EventSocket* socket_ = nullptr;
};

}  // namespace vexalo
