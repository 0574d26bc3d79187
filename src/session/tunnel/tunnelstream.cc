#include "session/tunnel/tunnelstream.h"

#include <utility>

#include "base/net/socketerrors.h"
#include "session/tunnel/tunnelsession.h"

namespace vexalo {

TunnelStream::TunnelStream(TunnelSession* tunnel, std::shared_ptr<std::recursive_mutex> lock, EventQueue* thread)
    : tunnel_(tunnel), lock_(std::move(lock)), thread_(thread) {}

TunnelStream::~TunnelStream() { Close(); }

StreamState TunnelStream::GetState() const {
  std::lock_guard<std::recursive_mutex> guard(*lock_);
  return tunnel_ ? tunnel_->GetStreamState() : STREAM_CLOSED;
}

StreamResult TunnelStream::Read(void* buffer, size_t length, size_t* read, int* error) {
  std::lock_guard<std::recursive_mutex> guard(*lock_);
  if (tunnel_ == nullptr) {
    if (error) *error = kSocketNotConnected;
    return SR_ERROR;
  }
  return tunnel_->ReadStream(static_cast<char*>(buffer), length, read, error);
}

StreamResult TunnelStream::Write(const void* data, size_t length, size_t* written, int* error) {
  std::lock_guard<std::recursive_mutex> guard(*lock_);
  if (tunnel_ == nullptr) {
    if (error) *error = kSocketNotConnected;
    return SR_ERROR;
  }
  return tunnel_->WriteStream(static_cast<const char*>(data), length, written, error);
}

void TunnelStream::Close() {
  std::lock_guard<std::recursive_mutex> guard(*lock_);
  thread_->Clear(this, kStreamEventMessage);
  if (tunnel_ == nullptr) return;
  TunnelSession* tunnel = tunnel_;
  tunnel_ = nullptr;
  tunnel->OnStreamClosed();
}

void TunnelStream::PostEvent(int events, int error) {
  thread_->Post(this, kStreamEventMessage, new MessageData<std::pair<int, int>>({events, error}));
}

void TunnelStream::HandleMessage(QueuedMessage* msg) {
  if (msg->id != kStreamEventMessage) return;
  auto event = msg->TakePayload<MessageData<std::pair<int, int>>>();
  StreamEvent(this, event->value().first, event->value().second);
}

}  // namespace vexalo
