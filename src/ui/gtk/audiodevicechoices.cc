#include "ui/gtk/audiodevicechoices.h"

#include "app/settings.h"

namespace vexalo {

std::vector<AudioDeviceChoice> AudioDeviceChoice::Make(const std::vector<SoundDevice>& devices,
                                                       bool with_all_devices,
                                                       const std::string& current) {
  std::vector<AudioDeviceChoice> choices{{"System default", kDefaultAudioDevice}};
  if (with_all_devices) choices.push_back({"All devices", kAllAudioDevices});
  for (const SoundDevice& device : devices) {
    const std::string& shown = device.description.empty() ? device.name : device.description;
    bool known = false;
    for (const AudioDeviceChoice& choice : choices) known = known || choice.value == shown;
    if (!known) choices.push_back({shown, shown});
  }
  bool offered = false;
  for (const AudioDeviceChoice& choice : choices) offered = offered || choice.value == current;
  if (!offered && !current.empty()) choices.push_back({current + " (not connected)", current});
  return choices;
}

unsigned AudioDeviceChoice::IndexOf(const std::vector<AudioDeviceChoice>& choices,
                                    const std::string& value) {
  for (size_t i = 0; i < choices.size(); ++i) {
    if (choices[i].value == value) return static_cast<unsigned>(i);
  }
  return 0;
}

}  // namespace vexalo
