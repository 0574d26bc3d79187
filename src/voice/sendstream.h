#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "voice/audiocodec.h"
#include "voice/codecinfo.h"
#include "voice/resampler.h"
#include "voice/rtpsender.h"

namespace vexalo {

// The sending half of a channel: 10 ms frames at the engine rate in, one RTP packet per codec
// frame out. With DTX on, silence (as the voice activity detector calls it) goes out as a
// comfort-noise packet when it starts and every 200 ms after, for codecs that use CN.
class SendStream {
 public:
  using PacketSink = std::function<void(std::span<const uint8_t>)>;

  explicit SendStream(PacketSink sink);
  ~SendStream();

  void SetCodec(const CodecInfo& info);
  const CodecInfo& codec() const { return info_; }
  void SetDtx(bool on) { dtx_ = on; }
  // One engine frame; `speech` is the detector's verdict for it.
  void Process(const int16_t* frame, bool speech);
  // One engine frame passes without sending (muted): the RTP clock runs on, so the receiver
  // places what follows at the right time.
  void Idle();

  uint64_t packets_sent() const { return packets_sent_; }
  uint64_t comfort_noise_sent() const { return comfort_noise_sent_; }

 private:
  void EncodeFrame(const int16_t* pcm, bool speech);

  PacketSink sink_;
  CodecInfo info_;
  std::unique_ptr<AudioCodec> codec_;
  std::unique_ptr<Resampler> resampler_;
  RtpSender rtp_;
  std::vector<int16_t> pending_;  // at the codec rate
  std::vector<bool> pending_speech_;
  bool dtx_ = false;
  bool in_silence_ = false;
  int silence_frames_ = 0;
  uint64_t packets_sent_ = 0;
  uint64_t comfort_noise_sent_ = 0;
};

}  // namespace vexalo
