#pragma once

#include <string>
#include <vector>

#include "voice/pulsedevicelist.h"

namespace vexalo {

// What a sound-device option offers: the system's default device (and, for ringing, every
// device), then the sound server's devices, each shown by its description and stored by it.
// A stored device that is not connected now stays on offer, so opening the settings never
// changes the choice.
struct AudioDeviceChoice {
  std::string label;  // what the user sees
  std::string value;  // what the option stores

  bool operator==(const AudioDeviceChoice& other) const = default;

  static std::vector<AudioDeviceChoice> Make(const std::vector<SoundDevice>& devices,
                                             bool with_all_devices, const std::string& current);
  // The index of `value` in `choices`; 0 (the default device) when it is not there.
  static unsigned IndexOf(const std::vector<AudioDeviceChoice>& choices, const std::string& value);
};

}  // namespace vexalo
