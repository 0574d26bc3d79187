#pragma once

#include <opus.h>

#include "voice/audiocodec.h"

namespace vexalo {

// Opus at 48 kHz, voice mode, with in-band FEC so a lost frame can be rebuilt from the next
// packet; otherwise the decoder's own concealment fills in.
class OpusCodec : public AudioCodec {
 public:
  OpusCodec();
  ~OpusCodec() override;
  OpusCodec(const OpusCodec&) = delete;
  OpusCodec& operator=(const OpusCodec&) = delete;

  int sample_rate() const override { return 48000; }
  int frame_samples() const override { return 960; }
  int rtp_clock_rate() const override { return 48000; }
  int Encode(const int16_t* pcm, uint8_t* out, size_t max) override;
  int Decode(std::span<const uint8_t> payload, int16_t* out, size_t max) override;
  int Conceal(int16_t* out, size_t max) override;
  int DecodeRedundant(std::span<const uint8_t> next, int16_t* out, size_t max) override;
  bool UsesComfortNoise() const override { return false; }

 private:
  OpusEncoder* encoder_ = nullptr;
  OpusDecoder* decoder_ = nullptr;
};

}  // namespace vexalo
