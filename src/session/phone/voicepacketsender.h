#pragma once

#include <cstddef>

namespace vexalo {

// Where a media channel's RTP goes. Called on the engine's audio thread.
class VoicePacketSender {
 public:
  virtual ~VoicePacketSender() = default;
  virtual void SendPacket(const char* data, size_t size) = 0;
};

}  // namespace vexalo
