#include "voice/speexcodec.h"

#include <vector>

namespace vexalo {

SpeexCodec::SpeexCodec()
    : encoder_(speex_encoder_init(&speex_nb_mode)), decoder_(speex_decoder_init(&speex_nb_mode)) {
  int quality = 8;
  speex_encoder_ctl(encoder_, SPEEX_SET_QUALITY, &quality);
  int enhance = 1;
  speex_decoder_ctl(decoder_, SPEEX_SET_ENH, &enhance);
  speex_bits_init(&encode_bits_);
  speex_bits_init(&decode_bits_);
}

SpeexCodec::~SpeexCodec() {
  speex_bits_destroy(&encode_bits_);
  speex_bits_destroy(&decode_bits_);
  speex_encoder_destroy(encoder_);
  speex_decoder_destroy(decoder_);
}

int SpeexCodec::Encode(const int16_t* pcm, uint8_t* out, size_t max) {
  speex_bits_reset(&encode_bits_);
  std::vector<int16_t> frame(pcm, pcm + 160);  // the encoder may write to its input
  speex_encode_int(encoder_, frame.data(), &encode_bits_);
  const int bytes = speex_bits_write(&encode_bits_, reinterpret_cast<char*>(out),
                                     static_cast<int>(max));
  return bytes > 0 ? bytes : -1;
}

int SpeexCodec::Decode(std::span<const uint8_t> payload, int16_t* out, size_t max) {
  if (payload.empty() || max < 160) return -1;
  speex_bits_read_from(&decode_bits_,
                       reinterpret_cast<const char*>(payload.data()),
                       static_cast<int>(payload.size()));
  // One frame per packet is what we send; a payload holding several plays its first frame.
  if (speex_decode_int(decoder_, &decode_bits_, out) != 0) return -1;
  return 160;
}

int SpeexCodec::Conceal(int16_t* out, size_t max) {
  if (max < 160) return -1;
  speex_decode_int(decoder_, nullptr, out);
  return 160;
}

}  // namespace vexalo
