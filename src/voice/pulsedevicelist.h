#pragma once

#include <string>
#include <vector>

namespace vexalo {

struct SoundDevice {
  std::string name;         // what the server knows it by
  std::string description;  // what the user sees
};

// The PulseAudio server's sources and sinks, read once per call of Load.
class PulseDeviceList {
 public:
  // False when no server answers (the lists are then empty).
  bool Load();
  const std::vector<SoundDevice>& inputs() const { return inputs_; }
  const std::vector<SoundDevice>& outputs() const { return outputs_; }

 private:
  std::vector<SoundDevice> inputs_;
  std::vector<SoundDevice> outputs_;
};

}  // namespace vexalo
