#include "base/net/bufferedreadadapter.h"

#include <algorithm>
#include <cstring>

#include "base/runtime/logging.h"
#include "base/net/socketerrors.h"

namespace vexalo {

BufferedReadAdapter::BufferedReadAdapter(EventSocket* socket) : SocketAdapter(socket) {}

int BufferedReadAdapter::Send(const void* data, size_t length) {
  if (buffering_) {
    SetError(kSocketWouldBlock);
    return -1;
  }
  return SocketAdapter::Send(data, length);
}

int BufferedReadAdapter::Recv(void* buffer, size_t size) {
  if (buffering_) {
    SetError(kSocketWouldBlock);
    return -1;
  }
  size_t handed = 0;
  if (fill_ > 0) {
    // Bytes that arrived with the end of the handshake come first.
    handed = std::min(size, fill_);
    std::memcpy(buffer, buffer_, handed);
    std::memmove(buffer_, buffer_ + handed, fill_ - handed);
    fill_ -= handed;
    if (handed == size) return static_cast<int>(handed);
  }
  int n = SocketAdapter::Recv(static_cast<char*>(buffer) + handed, size - handed);
  if (n < 0) return handed > 0 ? static_cast<int>(handed) : n;
  return static_cast<int>(handed) + n;
}

void BufferedReadAdapter::OnBufferOverflow() {
  LOG(kInfo) << "Input buffer overflow";
  fill_ = 0;
}

void BufferedReadAdapter::OnReadEvent(EventSocket* socket) {
  if (!buffering_) {
    SocketAdapter::OnReadEvent(socket);
    return;
  }
  if (fill_ >= kBufferSize) {
    OnBufferOverflow();
    if (!buffering_ || fill_ >= kBufferSize) return;
  }
  int n = wrapped()->Recv(buffer_ + fill_, kBufferSize - fill_);
  if (n < 0) {
    if (!IsBlockingError(wrapped()->GetError())) {
      LOG(kInfo) << "Recv: " << wrapped()->GetError();
    }
    return;
  }
  fill_ += static_cast<size_t>(n);
  ProcessInput(buffer_, &fill_);
  if (buffering_ && fill_ >= kBufferSize) OnBufferOverflow();
}

void BufferedReadAdapter::BufferInput(bool on) { buffering_ = on; }

}  // namespace vexalo
