#include "voice/resampler.h"

#include <speex/speex_resampler.h>

namespace vexalo {

Resampler::Resampler(int in_rate, int out_rate) : in_rate_(in_rate), out_rate_(out_rate) {
  if (in_rate != out_rate) {
    int error = 0;
    state_ = speex_resampler_init(1, static_cast<spx_uint32_t>(in_rate),
                                  static_cast<spx_uint32_t>(out_rate),
                                  SPEEX_RESAMPLER_QUALITY_VOIP, &error);
    // The converter's own delay is not wanted at the start of a call.
    speex_resampler_skip_zeros(state_);
  }
}

Resampler::~Resampler() {
  if (state_) speex_resampler_destroy(state_);
}

void Resampler::Process(const int16_t* in, size_t samples, std::vector<int16_t>& out) {
  if (!state_) {
    out.insert(out.end(), in, in + samples);
    return;
  }
  const size_t start = out.size();
  const size_t room = samples * static_cast<size_t>(out_rate_) / in_rate_ + 16;
  out.resize(start + room);
  auto in_len = static_cast<spx_uint32_t>(samples);
  auto out_len = static_cast<spx_uint32_t>(room);
  speex_resampler_process_int(state_, 0, in, &in_len, out.data() + start, &out_len);
  out.resize(start + out_len);
}

}  // namespace vexalo
