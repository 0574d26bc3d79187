#pragma once

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "voice/voiceengine.h"
#include "voice/voicetransport.h"

namespace vexalo::testing {

// One direction of an in-memory network between two engines on a shared virtual clock, with
// optional loss and a uniformly spread extra delay (which also reorders).
class PacketPipe : public VoiceTransport {
 public:
  PacketPipe(VoiceEngine* to, int channel) : to_(to), channel_(channel) {}

  void SetImpairment(double loss, int jitter_ms) {
    loss_ = loss;
    jitter_ms_ = jitter_ms;
  }
  int SendPacket(int, const void* data, size_t size) override;
  int SendRtcpPacket(int, const void*, size_t) override { return 0; }
  // Hands over the packets due by `now_ms`.
  void Deliver(int64_t now_ms);

  int64_t now_ms = 0;
  uint64_t sent = 0;

 private:
  struct InFlight {
    int64_t due_ms;
    std::vector<uint8_t> bytes;
  };
  VoiceEngine* to_;
  int channel_;
  double loss_ = 0;
  int jitter_ms_ = 0;
  std::mt19937 random_{42};
  std::deque<InFlight> in_flight_;
};

}  // namespace vexalo::testing
