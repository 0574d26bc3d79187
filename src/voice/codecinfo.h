#pragma once

namespace vexalo {

// The engine's record of one codec: payload type first, then the name, as the channel layer
// reads it; the rest tells the engine how to run it.
struct CodecInfo {
  int payload_type = -1;
  char name[32] = {};
  int clock_rate = 0;   // RTP clock
  int sample_rate = 0;  // rate of the PCM the codec takes and gives
  int frame_ms = 20;
  int channels = 1;
};

}  // namespace vexalo
