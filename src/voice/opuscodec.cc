#include "voice/opuscodec.h"

#include <cstdlib>

#include "base/runtime/logging.h"

namespace vexalo {

OpusCodec::OpusCodec() {
  int error = OPUS_OK;
  encoder_ = opus_encoder_create(48000, 1, OPUS_APPLICATION_VOIP, &error);
  if (error != OPUS_OK) {
    LOG(kError) << "Opus encoder: " << opus_strerror(error);
    std::abort();
  }
  opus_encoder_ctl(encoder_, OPUS_SET_BITRATE(32000));
  opus_encoder_ctl(encoder_, OPUS_SET_INBAND_FEC(1));
  // FEC is only spent when the encoder expects loss.
  opus_encoder_ctl(encoder_, OPUS_SET_PACKET_LOSS_PERC(10));
  opus_encoder_ctl(encoder_, OPUS_SET_COMPLEXITY(5));
  decoder_ = opus_decoder_create(48000, 1, &error);
  if (error != OPUS_OK) {
    LOG(kError) << "Opus decoder: " << opus_strerror(error);
    std::abort();
  }
}

OpusCodec::~OpusCodec() {
  opus_encoder_destroy(encoder_);
  opus_decoder_destroy(decoder_);
}

int OpusCodec::Encode(const int16_t* pcm, uint8_t* out, size_t max) {
  const int bytes = opus_encode(encoder_, pcm, 960, out, static_cast<opus_int32>(max));
  return bytes > 0 ? bytes : -1;
}

int OpusCodec::Decode(std::span<const uint8_t> payload, int16_t* out, size_t max) {
  if (payload.empty()) return -1;
  // A packet announcing more samples than we hold is refused before decoding.
  const int samples = opus_decoder_get_nb_samples(decoder_, payload.data(),
                                                  static_cast<opus_int32>(payload.size()));
  if (samples <= 0 || static_cast<size_t>(samples) > max) return -1;
  const int got = opus_decode(decoder_, payload.data(), static_cast<opus_int32>(payload.size()),
                              out, samples, 0);
  return got > 0 ? got : -1;
}

int OpusCodec::Conceal(int16_t* out, size_t max) {
  if (max < 960) return -1;
  const int got = opus_decode(decoder_, nullptr, 0, out, 960, 0);
  return got > 0 ? got : -1;
}

int OpusCodec::DecodeRedundant(std::span<const uint8_t> next, int16_t* out, size_t max) {
  if (next.empty() || max < 960) return -1;
  // Without redundancy in `next` the decoder falls back to its own concealment.
  const int got =
      opus_decode(decoder_, next.data(), static_cast<opus_int32>(next.size()), out, 960, 1);
  return got > 0 ? got : -1;
}

}  // namespace vexalo
