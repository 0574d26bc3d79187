#pragma once

#include <array>
#include <vector>

#include "voice/audiocodec.h"

namespace vexalo {

// G.711 mu-law (PCMU) or A-law (PCMA) at 8 kHz. A lost frame repeats the last one, fading out,
// so short losses are heard as a smear rather than a click.
class G711Codec : public AudioCodec {
 public:
  enum class Law { kMu, kA };
  explicit G711Codec(Law law) : law_(law) {}

  static uint8_t EncodeMu(int16_t sample);
  static int16_t DecodeMu(uint8_t code);
  static uint8_t EncodeA(int16_t sample);
  static int16_t DecodeA(uint8_t code);

  int sample_rate() const override { return 8000; }
  int frame_samples() const override { return 160; }
  int rtp_clock_rate() const override { return 8000; }
  int Encode(const int16_t* pcm, uint8_t* out, size_t max) override;
  int Decode(std::span<const uint8_t> payload, int16_t* out, size_t max) override;
  int Conceal(int16_t* out, size_t max) override;

 private:
  Law law_;
  std::vector<int16_t> last_;
  float fade_ = 1.0f;
};

}  // namespace vexalo
