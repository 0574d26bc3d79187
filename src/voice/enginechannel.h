#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>

#include "voice/codecinfo.h"
#include "voice/levelmeter.h"
#include "voice/receivestream.h"
#include "voice/sendstream.h"
#include "voice/voicetransport.h"

namespace vexalo {

struct ChannelStats {
  ReceiveStats receive;
  uint64_t malformed = 0;  // not RTP, or larger than any voice packet
  uint64_t packets_sent = 0;
  uint64_t comfort_noise_sent = 0;
};

// One call leg inside the engine: its send and receive streams, the switches for sending and
// playout, and its output level. Packets arrive on the caller's thread; frames move on the
// audio thread.
class EngineChannel {
 public:
  explicit EngineChannel(int id);

  int id() const { return id_; }
  void SetTransport(VoiceTransport* transport);
  void SetSendCodec(const CodecInfo& info);
  void SetDtx(bool on);
  void ReceivePacket(std::span<const uint8_t> bytes, int64_t arrival_ms);

  void SetPlayout(bool on);
  void SetSending(bool on) { sending_ = on; }
  bool playing() const { return playing_; }
  bool sending() const { return sending_; }

  // Audio thread: one frame for the mix; false when the channel does not play.
  bool Playout(int16_t* frame);
  void Send(const int16_t* frame, bool speech);

  int output_level() const { return output_meter_.level(); }
  ChannelStats stats() const;

 private:
  void Transmit(std::span<const uint8_t> packet);

  const int id_;
  std::atomic<bool> playing_{false};
  std::atomic<bool> sending_{false};
  std::atomic<uint64_t> malformed_{0};
  mutable std::mutex send_mutex_;  // transport, codec and DTX change while the audio thread sends
  VoiceTransport* transport_ = nullptr;
  SendStream send_;
  ReceiveStream receive_;
  LevelMeter output_meter_;
};

}  // namespace vexalo
