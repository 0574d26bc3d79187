#pragma once

#include <atomic>
#include <string>

#include "voice/voiceengine.h"
#include "voice/voicetransport.h"
#include "session/phone/voicepacketsender.h"

namespace vexalo {

// One channel of the voice engine, with the transport through which the engine sends.
class VoiceMediaChannel : private VoiceTransport {
 public:
  // `channel` was made by `engine`, which outlives this object.
  VoiceMediaChannel(VoiceEngine* engine, int channel);
  ~VoiceMediaChannel() override;
  VoiceMediaChannel(const VoiceMediaChannel&) = delete;
  VoiceMediaChannel& operator=(const VoiceMediaChannel&) = delete;

  // Gives the engine this object as the channel's transport; packets go to `sender` from then.
  bool Attach();
  void SetPacketSender(VoicePacketSender* sender) { sender_ = sender; }

  void SetCodec(const std::string& name);
  void OnPacketReceived(const char* data, size_t size);
  void SetPlayout(bool playout);
  void SetSend(bool send);
  int GetOutputLevel();

  int channel() const { return channel_; }

 private:
  int SendPacket(int channel, const void* data, size_t size) override;
  // RTCP is not carried: the connection monitor measures the path instead.
  int SendRtcpPacket(int, const void*, size_t) override { return 0; }

  VoiceEngine* engine_;
  int channel_;
  std::atomic<VoicePacketSender*> sender_{nullptr};
};

}  // namespace vexalo
