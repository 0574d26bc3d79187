#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "voice/audiocodec.h"
#include "voice/comfortnoise.h"
#include "voice/jitterbuffer.h"
#include "voice/resampler.h"
#include "voice/rtppacket.h"

namespace vexalo {

struct ReceiveStats {
  uint64_t packets = 0;
  uint64_t late = 0;
  uint64_t duplicates = 0;
  uint64_t overflow = 0;
  uint64_t unknown_payload = 0;
  uint64_t concealed_frames = 0;
  uint64_t recovered_frames = 0;  // rebuilt from in-band FEC
  uint64_t skipped_frames = 0;    // dropped to bring the delay down
  uint64_t stretched_frames = 0;  // played in place of time to let the delay grow
  int delay_ms = 0;               // audio waiting to be played
  int target_delay_ms = 0;
  int jitter_ms = 0;
};

// The receiving half of a channel: packets in from the network thread, 10 ms frames at the
// engine rate out to the audio thread. Holds the jitter buffer, the decoders, concealment and
// comfort noise.
class ReceiveStream {
 public:
  // A run of concealment longer than this with nothing buffered is a pause, not a loss: stop
  // inventing audio and fill the buffer again.
  static constexpr int kMaxConcealMs = 60;

  ReceiveStream();
  ~ReceiveStream();

  void OnPacket(const RtpPacket& packet, int64_t arrival_ms);
  // Writes kFrameSamples samples (silence before the first packet).
  void Pull(int16_t* out);
  ReceiveStats stats() const;
  // Forgets buffered packets and audio; statistics are kept.
  void Reset();

 private:
  struct Decoder {
    std::unique_ptr<AudioCodec> codec;
    std::unique_ptr<Resampler> resampler;
  };
  Decoder* DecoderFor(uint8_t payload_type);
  // Decodes (or conceals) the frame at the play position into the PCM queue.
  void DecodeNext();
  void Restart(int clock_rate);
  int BufferedMs() const;
  void Append(Decoder& decoder, const int16_t* pcm, int samples);

  mutable std::mutex mutex_;
  std::optional<uint32_t> ssrc_;
  std::unique_ptr<JitterBuffer> buffer_;
  std::map<uint8_t, Decoder> decoders_;
  std::deque<int16_t> pcm_;  // decoded, at the engine rate
  bool playing_ = false;
  int64_t play_position_ = 0;
  int64_t frame_ticks_ = 0;
  uint8_t last_payload_type_ = 0;
  int conceal_run_ms_ = 0;
  int late_run_ = 0;
  std::optional<uint8_t> comfort_level_;
  ComfortNoise comfort_noise_;
  ReceiveStats stats_;
};

}  // namespace vexalo
