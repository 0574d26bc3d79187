#pragma once

#include <functional>
#include <memory>

#include "base/net/packetsocket.h"

namespace vexalo {

// Packets over a TCP connection, each behind a 16-bit big-endian length. Both buffers are
// fixed: a packet sent while an earlier one is still being written is dropped (as UDP would
// under congestion), and nothing the peer sends can grow memory.
class AsyncTcpSocket : public PacketSocket {
 public:
  static constexpr size_t kBufferSize = 65538;  // the largest frame: 2 + 65535 bytes
  static constexpr size_t kMaxPacketSize = 65535;

  explicit AsyncTcpSocket(EventSocket* socket);

  int Send(const void* data, size_t length) override;
  // Only to the connected peer.
  int SendTo(const void* data, size_t length, const SocketAddress& address) override;

  // Delivers every complete frame at the front of `buffer` through `on_packet` and moves what
  // remains to the front; returns the bytes left.
  static size_t ExtractFrames(char* buffer, size_t fill,
                              const std::function<void(const char*, size_t)>& on_packet);

  // Part of a frame is still waiting to be written.
  bool HasPendingOutput() const { return out_fill_ > 0; }

  Signal<PacketSocket*> ConnectEvent;
  Signal<PacketSocket*, int> CloseEvent;

 protected:
  virtual void ProcessInput(char* buffer, size_t* fill);

 private:
  int Flush();
  void OnConnectEvent(EventSocket* socket);
  void OnReadEvent(EventSocket* socket);
  void OnWriteEvent(EventSocket* socket);
  void OnCloseEvent(EventSocket* socket, int error);

  std::unique_ptr<char[]> in_;
  std::unique_ptr<char[]> out_;
  size_t in_fill_ = 0;
  size_t out_fill_ = 0;
};

}  // namespace vexalo
