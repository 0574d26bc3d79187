#pragma once

#include <cstddef>

#include "base/net/socketadapter.h"

namespace vexalo {

// Base of adapters that hold a handshake before the user's bytes flow (proxy dialogues, the
// "ssltcp" greeting). While buffering, received bytes go to ProcessInput instead of the user
// and Send would-blocks.
class BufferedReadAdapter : public SocketAdapter {
 public:
  static constexpr size_t kBufferSize = 1024;

  explicit BufferedReadAdapter(EventSocket* socket);

  int Send(const void* data, size_t length) override;
  int Recv(void* buffer, size_t size) override;

 protected:
  // Consumes what it can of `buffer`; on return `*length` holds the unconsumed byte count,
  // which stays at the front of the buffer for the next read.
  virtual void ProcessInput(char* buffer, size_t* length) = 0;
  // The buffer filled up without ProcessInput consuming anything: the peer sent more than any
  // handshake line may hold. The default drops the buffer.
  virtual void OnBufferOverflow();
  void OnReadEvent(EventSocket* socket) override;

  void BufferInput(bool on);
  bool buffering() const { return buffering_; }
  size_t buffered() const { return fill_; }
  void ClearBuffer() { fill_ = 0; }

 private:
  char buffer_[kBufferSize];
  size_t fill_ = 0;
  bool buffering_ = false;
};

}  // namespace vexalo
