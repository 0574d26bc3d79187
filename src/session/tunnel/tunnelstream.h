#pragma once

#include <memory>
#include <mutex>

#include "base/http/datastream.h"
#include "base/runtime/eventqueue.h"
#include "base/runtime/queuedmessage.h"

namespace vexalo {

class TunnelSession;

// The application's end of a tunnel: reads and writes go to the tunnel's PseudoTcp under the
// tunnel's lock; events arrive as messages on the thread the stream was made for. Once the
// tunnel is gone, reads and writes fail with "not connected".
class TunnelStream : public DataStream, public MessageTarget {
 public:
  static constexpr uint32_t kStreamEventMessage = 4;

  TunnelStream(TunnelSession* tunnel, std::shared_ptr<std::recursive_mutex> lock, EventQueue* thread);
  ~TunnelStream() override;
  TunnelStream(const TunnelStream&) = delete;
  TunnelStream& operator=(const TunnelStream&) = delete;

  StreamState GetState() const override;
  StreamResult Read(void* buffer, size_t length, size_t* read, int* error) override;
  StreamResult Write(const void* data, size_t length, size_t* written, int* error) override;
  // Lets queued data drain, then the tunnel ends its session.
  void Close() override;
  void HandleMessage(QueuedMessage* msg) override;

  EventQueue* thread() const { return thread_; }
  // The tunnel's side, under its lock.
  void PostEvent(int events, int error);
  void DetachTunnel() { tunnel_ = nullptr; }

 private:
  TunnelSession* tunnel_;
  std::shared_ptr<std::recursive_mutex> lock_;
  EventQueue* thread_;
};

}  // namespace vexalo
