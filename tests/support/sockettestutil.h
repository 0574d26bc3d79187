#pragma once

#include <functional>

#include "base/net/eventsocket.h"
#include "base/runtime/loopthread.h"
#include "base/net/physicalsocketserver.h"
#include "base/runtime/threadregistry.h"

namespace vexalo {

// Runs the calling thread's loop until `done` holds or about five seconds pass; returns `done`.
inline bool RunUntil(const std::function<bool()>& done) {
  LoopThread* self = ThreadRegistry::Current();
  for (int i = 0; i < 1000 && !done(); ++i) self->RunFor(5);
  return done();
}

inline PhysicalSocketServer* CurrentHub() {
  return static_cast<PhysicalSocketServer*>(ThreadRegistry::Current()->hub());
}

// Records what a socket reports.
class SocketRecorder : public SlotHost {
 public:
  explicit SocketRecorder(EventSocket* socket) {
    socket->ReadEvent.Connect(this, &SocketRecorder::OnRead);
    socket->WriteEvent.Connect(this, &SocketRecorder::OnWrite);
    socket->ConnectEvent.Connect(this, &SocketRecorder::OnConnect);
    socket->CloseEvent.Connect(this, &SocketRecorder::OnClose);
  }
  void OnRead(EventSocket* s) {
    ++reads;
    if (on_read) on_read(s);
  }
  void OnWrite(EventSocket*) { ++writes; }
  void OnConnect(EventSocket*) { ++connects; }
  void OnClose(EventSocket*, int error) {
    ++closes;
    close_error = error;
  }

  std::function<void(EventSocket*)> on_read;
  int reads = 0;
  int writes = 0;
  int connects = 0;
  int closes = 0;
  int close_error = -1;
};

inline SocketAddress Loopback(uint16_t port = 0) { return SocketAddress(0x7F000001, port); }

}  // namespace vexalo
