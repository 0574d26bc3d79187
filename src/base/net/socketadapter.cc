#include "base/net/socketadapter.h"

namespace vexalo {

SocketAdapter::SocketAdapter(EventSocket* socket) : socket_(socket) {
  socket_->ConnectEvent.Connect(this, &SocketAdapter::OnConnectEvent);
  socket_->ReadEvent.Connect(this, &SocketAdapter::OnReadEvent);
  socket_->WriteEvent.Connect(this, &SocketAdapter::OnWriteEvent);
  socket_->CloseEvent.Connect(this, &SocketAdapter::OnCloseEvent);
}

SocketAdapter::~SocketAdapter() { delete socket_; }

void SocketAdapter::OnConnectEvent(EventSocket*) { ConnectEvent.Emit(this); }
void SocketAdapter::OnReadEvent(EventSocket*) { ReadEvent.Emit(this); }
void SocketAdapter::OnWriteEvent(EventSocket*) { WriteEvent.Emit(this); }
void SocketAdapter::OnCloseEvent(EventSocket*, int error) { CloseEvent.Emit(this, error); }

}  // namespace vexalo
