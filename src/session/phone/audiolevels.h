#pragma once

namespace vexalo {

// The call's meters: the microphone after processing and what the channel plays.
struct AudioLevels {
  int input_level = 0;
  int output_level = 0;
};

}  // namespace vexalo
