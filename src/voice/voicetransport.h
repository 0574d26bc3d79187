#pragma once

#include <cstddef>

namespace vexalo {

// Where a channel's packets go. Called on the engine's audio thread: a transport bound to
// another thread hands the bytes over rather than sending in place.
class VoiceTransport {
 public:
  virtual ~VoiceTransport() = default;
  virtual int SendPacket(int channel, const void* data, size_t size) = 0;
  virtual int SendRtcpPacket(int channel, const void* data, size_t size) = 0;
};

}  // namespace vexalo
