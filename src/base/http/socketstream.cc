#include "base/http/socketstream.h"

#include "base/net/socketerrors.h"

namespace vexalo {

SocketStream::SocketStream(EventSocket* socket) { Attach(socket); }

SocketStream::~SocketStream() { delete Detach(); }

void SocketStream::Attach(EventSocket* socket) {
  delete Detach();
  socket_ = socket;
  if (!socket_) return;
  socket_->ConnectEvent.Connect(this, &SocketStream::OnConnectEvent);
  socket_->ReadEvent.Connect(this, &SocketStream::OnReadEvent);
  socket_->WriteEvent.Connect(this, &SocketStream::OnWriteEvent);
  socket_->CloseEvent.Connect(this, &SocketStream::OnCloseEvent);
}

EventSocket* SocketStream::Detach() {
  EventSocket* socket = socket_;
  if (socket) {
    socket->ConnectEvent.Disconnect(this);
    socket->ReadEvent.Disconnect(this);
    socket->WriteEvent.Disconnect(this);
    socket->CloseEvent.Disconnect(this);
  }
  socket_ = nullptr;
  return socket;
}

StreamState SocketStream::GetState() const {
  if (!socket_) return STREAM_CLOSED;
  switch (socket_->GetState()) {
    case CONN_CONNECTING:
      return STREAM_OPENING;
    case CONN_CONNECTED:
      return STREAM_OPEN;
    default:
      return STREAM_CLOSED;
  }
}

StreamResult SocketStream::Read(void* buffer, size_t length, size_t* read, int* error) {
  if (read) *read = 0;
  if (!socket_) {
    if (error) *error = kSocketNotConnected;
    return SR_ERROR;
  }
  int result = socket_->Recv(buffer, length);
  if (result < 0) {
    int code = socket_->GetError();
    if (IsBlockingError(code)) return SR_BLOCK;
    if (error) *error = code;
    return SR_ERROR;
  }
  if (result == 0 && length > 0) return SR_EOS;
  if (read) *read = static_cast<size_t>(result);
  return SR_SUCCESS;
}

StreamResult SocketStream::Write(const void* data, size_t length, size_t* written, int* error) {
  if (written) *written = 0;
  if (!socket_) {
    if (error) *error = kSocketNotConnected;
    return SR_ERROR;
  }
  int result = socket_->Send(data, length);
  if (result < 0) {
    int code = socket_->GetError();
    if (IsBlockingError(code)) return SR_BLOCK;
    if (error) *error = code;
    return SR_ERROR;
  }
  if (written) *written = static_cast<size_t>(result);
  return SR_SUCCESS;
}

void SocketStream::Close() {
  if (socket_) socket_->Close();
}

void SocketStream::OnConnectEvent(EventSocket*) {
  StreamEvent.Emit(this, SE_OPEN | SE_READ | SE_WRITE, 0);
}

void SocketStream::OnReadEvent(EventSocket*) { StreamEvent.Emit(this, SE_READ, 0); }

void SocketStream::OnWriteEvent(EventSocket*) { StreamEvent.Emit(this, SE_WRITE, 0); }

void SocketStream::OnCloseEvent(EventSocket*, int error) {
  StreamEvent.Emit(this, SE_CLOSE, error);
}

}  // namespace vexalo
