#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vexalo {

// One codec's encoder and decoder state for one stream. PCM is mono, 16-bit, at the codec's
// sample rate; one frame is 20 ms.
class AudioCodec {
 public:
  // Enough for 120 ms at 48 kHz, the longest frame any of our codecs can carry.
  static constexpr size_t kMaxFrameSamples = 5760;
  static constexpr size_t kMaxPayload = 1275;

  virtual ~AudioCodec() = default;
  virtual int sample_rate() const = 0;
  virtual int frame_samples() const = 0;
  // Ticks per second of the RTP timestamp.
  virtual int rtp_clock_rate() const = 0;

  // Encodes frame_samples() samples; bytes written (> 0) or -1.
  virtual int Encode(const int16_t* pcm, uint8_t* out, size_t max) = 0;
  // Decodes one payload; samples written or -1 when the payload is not valid for the codec.
  virtual int Decode(std::span<const uint8_t> payload, int16_t* out, size_t max) = 0;
  // One frame in place of a lost packet.
  virtual int Conceal(int16_t* out, size_t max) = 0;
  // The lost frame rebuilt from the redundancy the next packet carries; -1 when there is none.
  virtual int DecodeRedundant(std::span<const uint8_t> /*next*/, int16_t* /*out*/,
                              size_t /*max*/) {
    return -1;
  }
  // Whether silence may be sent as comfort noise (RFC 3389) instead of frames.
  virtual bool UsesComfortNoise() const { return true; }
};

}  // namespace vexalo
