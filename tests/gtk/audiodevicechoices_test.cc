#include "ui/gtk/audiodevicechoices.h"

#include <gtest/gtest.h>

#include "app/settings.h"

namespace vexalo {
namespace {

TEST(AudioDeviceChoiceTest, DefaultFirstThenTheServersDevicesAndTheStoredOneKept) {
  const std::vector<SoundDevice> devices = {
      {"alsa_input.usb", "USB Headset"}, {"alsa_input.pci", ""}, {"dup", "USB Headset"}};
  using C = AudioDeviceChoice;
  auto choices = C::Make(devices, false, kDefaultAudioDevice);
  EXPECT_EQ(choices, (std::vector<C>{{"System default", kDefaultAudioDevice},
                                     {"USB Headset", "USB Headset"},
                                     {"alsa_input.pci", "alsa_input.pci"}}));
  EXPECT_EQ(C::IndexOf(choices, "alsa_input.pci"), 2u);
  EXPECT_EQ(C::IndexOf(choices, "gone"), 0u);

  // Ringing can go to every device; a stored device that is unplugged stays choosable.
  choices = C::Make({}, true, "Old Speaker");
  EXPECT_EQ(choices, (std::vector<C>{{"System default", kDefaultAudioDevice},
                                     {"All devices", kAllAudioDevices},
                                     {"Old Speaker (not connected)", "Old Speaker"}}));
  EXPECT_EQ(C::IndexOf(choices, "Old Speaker"), 2u);
  EXPECT_EQ(C::Make({}, true, kAllAudioDevices).size(), 2u);
}

}  // namespace
}  // namespace vexalo
