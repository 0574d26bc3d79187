#include "voice/pulseaudioinput.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>

#include "base/runtime/logging.h"
#include "voice/audioformat.h"

namespace vexalo {

PulseAudioInput::~PulseAudioInput() { Close(); }

bool PulseAudioInput::Open() {
  Close();
  const pa_sample_spec spec{PA_SAMPLE_S16LE, kEngineRate, 1};
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.fragsize = static_cast<uint32_t>(kFrameSamples * sizeof(int16_t));
  int error = 0;
  stream_ = pa_simple_new(nullptr, "Vexalo", PA_STREAM_RECORD,
                          source_.empty() ? nullptr : source_.c_str(), "Voice call", &spec,
                          nullptr, &attr, &error);
  if (!stream_) {
    LOG(kWarning) << "Cannot open capture device: " << pa_strerror(error);
    return false;
  }
  return true;
}

void PulseAudioInput::Close() {
  if (stream_) pa_simple_free(stream_);
  stream_ = nullptr;
}

void PulseAudioInput::Read(int16_t* frame) {
  int error = 0;
  if (!stream_ || pa_simple_read(stream_, frame, kFrameSamples * sizeof(int16_t), &error) < 0) {
    std::fill_n(frame, kFrameSamples, int16_t{0});
  }
}

}  // namespace vexalo
