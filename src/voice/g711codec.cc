#include "voice/g711codec.h"

#include <algorithm>

namespace vexalo {
namespace {

constexpr int kMuBias = 0x84;
constexpr int kMuClip = 32635;

}  // namespace

uint8_t G711Codec::EncodeMu(int16_t sample) {
  int value = sample;
  const int sign = value < 0 ? 0x80 : 0;
  if (sign) value = -value;
  value = std::min(value, kMuClip) + kMuBias;
  int exponent = 7;
  for (int mask = 0x4000; !(value & mask) && exponent > 0; mask >>= 1) --exponent;
  const int mantissa = (value >> (exponent + 3)) & 0x0F;
  return static_cast<uint8_t>(~(sign | exponent << 4 | mantissa));
}

int16_t G711Codec::DecodeMu(uint8_t code) {
  code = static_cast<uint8_t>(~code);
  const int exponent = (code >> 4) & 0x07;
  const int value = (((code & 0x0F) << 3) + kMuBias) << exponent;
  return static_cast<int16_t>((code & 0x80) ? kMuBias - value : value - kMuBias);
}

uint8_t G711Codec::EncodeA(int16_t sample) {
  int value = sample >> 3;
  int mask = 0xD5;
  if (value < 0) {
    mask = 0x55;
    value = -value - 1;
  }
  int segment = 0;
  while (segment < 8 && value > (0x20 << segment) - 1) ++segment;
  if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
  int code = segment << 4;
  code |= (segment < 2 ? value >> 1 : value >> segment) & 0x0F;
  return static_cast<uint8_t>(code ^ mask);
}

int16_t G711Codec::DecodeA(uint8_t code) {
  code ^= 0x55;
  int value = (code & 0x0F) << 4;
  const int segment = (code & 0x70) >> 4;
  if (segment == 0) {
    value += 8;
  } else {
    value = (value + 0x108) << (segment - 1);
  }
  return static_cast<int16_t>((code & 0x80) ? value : -value);
}

int G711Codec::Encode(const int16_t* pcm, uint8_t* out, size_t max) {
  if (max < 160) return -1;
  for (int i = 0; i < 160; ++i) out[i] = law_ == Law::kMu ? EncodeMu(pcm[i]) : EncodeA(pcm[i]);
  return 160;
}

int G711Codec::Decode(std::span<const uint8_t> payload, int16_t* out, size_t max) {
  if (payload.empty() || payload.size() > max) return -1;
  for (size_t i = 0; i < payload.size(); ++i) {
    out[i] = law_ == Law::kMu ? DecodeMu(payload[i]) : DecodeA(payload[i]);
  }
  last_.assign(out, out + payload.size());
  fade_ = 1.0f;
  return static_cast<int>(payload.size());
}

int G711Codec::Conceal(int16_t* out, size_t max) {
  const size_t samples = std::min<size_t>(last_.empty() ? 160 : last_.size(), max);
  fade_ *= 0.7f;
  for (size_t i = 0; i < samples; ++i) {
    out[i] = last_.empty() ? 0 : static_cast<int16_t>(last_[i] * fade_);
  }
  return static_cast<int>(samples);
}

}  // namespace vexalo
