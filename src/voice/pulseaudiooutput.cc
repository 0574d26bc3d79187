#include "voice/pulseaudiooutput.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include "base/runtime/logging.h"
#include "voice/audioformat.h"

namespace vexalo {

PulseAudioOutput::~PulseAudioOutput() { Close(); }

bool PulseAudioOutput::Open() {
  Close();
  const pa_sample_spec spec{PA_SAMPLE_S16LE, kEngineRate, 1};
  pa_buffer_attr attr{};
  const auto frame_bytes = static_cast<uint32_t>(kFrameSamples * sizeof(int16_t));
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.tlength = 4 * frame_bytes;
  attr.prebuf = 2 * frame_bytes;
  attr.minreq = frame_bytes;
  int error = 0;
  stream_ = pa_simple_new(nullptr, "Vexalo", PA_STREAM_PLAYBACK,
                          sink_.empty() ? nullptr : sink_.c_str(), "Voice call", &spec, nullptr,
                          &attr, &error);
  if (!stream_) {
    LOG(kWarning) << "Cannot open playout device: " << pa_strerror(error);
    return false;
  }
  return true;
}

void PulseAudioOutput::Close() {
  if (stream_) pa_simple_free(stream_);
  stream_ = nullptr;
}

void PulseAudioOutput::Write(const int16_t* frame) {
  int error = 0;
  if (stream_) pa_simple_write(stream_, frame, kFrameSamples * sizeof(int16_t), &error);
}

}  // namespace vexalo
