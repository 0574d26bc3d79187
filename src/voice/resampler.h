#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct SpeexResamplerState_;

namespace vexalo {

// Sample-rate conversion of a continuous mono stream (speexdsp, VoIP quality); with equal
// rates it copies.
class Resampler {
 public:
  Resampler(int in_rate, int out_rate);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Appends the converted samples of `in` to `out`.
  void Process(const int16_t* in, size_t samples, std::vector<int16_t>& out);
  int in_rate() const { return in_rate_; }
  int out_rate() const { return out_rate_; }

 private:
  int in_rate_;
  int out_rate_;
  SpeexResamplerState_* state_ = nullptr;
};

}  // namespace vexalo
