#include "voice/nullaudiodevice.h"

#include <algorithm>

#include "voice/audioformat.h"

namespace vexalo {

void NullAudioDevice::Read(int16_t* frame) { std::fill_n(frame, kFrameSamples, int16_t{0}); }

}  // namespace vexalo
