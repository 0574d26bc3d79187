#pragma once

#include <speex/speex.h>

#include "voice/audiocodec.h"

namespace vexalo {

// Speex narrowband (8 kHz, quality 8, 15 kbit/s); its decoder conceals lost frames itself.
class SpeexCodec : public AudioCodec {
 public:
  SpeexCodec();
  ~SpeexCodec() override;
  SpeexCodec(const SpeexCodec&) = delete;
  SpeexCodec& operator=(const SpeexCodec&) = delete;

  int sample_rate() const override { return 8000; }
  int frame_samples() const override { return 160; }
  int rtp_clock_rate() const override { return 8000; }
  int Encode(const int16_t* pcm, uint8_t* out, size_t max) override;
  int Decode(std::span<const uint8_t> payload, int16_t* out, size_t max) override;
  int Conceal(int16_t* out, size_t max) override;

 private:
  void* encoder_;
  void* decoder_;
  SpeexBits encode_bits_;
  SpeexBits decode_bits_;
};

}  // namespace vexalo
