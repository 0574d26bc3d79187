#pragma once

#include "voice/voiceengine.h"
#include "voice/voicetransport.h"

namespace vexalo::testing {

// Hands each packet straight to a channel of another (or the same) engine, on the sender's
// thread: a network without delay or loss.
class DirectTransport : public VoiceTransport {
 public:
  DirectTransport(VoiceEngine* to, int channel) : to_(to), channel_(channel) {}
  int SendPacket(int, const void* data, size_t size) override {
    return to_->VE_ReceivedRTPPacket(channel_, data, static_cast<int>(size));
  }
  int SendRtcpPacket(int, const void*, size_t) override { return 0; }

 private:
  VoiceEngine* to_;
  int channel_;
};

}  // namespace vexalo::testing
