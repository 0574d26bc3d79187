#pragma once

#include <memory>
#include <vector>

#include "session/phone/codec.h"
#include "session/phone/voicemediachannel.h"
#include "voice/voiceengine.h"

namespace vexalo {

// The calls' view of the voice engine: start-up with echo, gain and noise control, the
// engine's codec list, channels, devices and the input level.
class VoiceMediaEngine {
 public:
  // Gain control is bit 1 of SetOptions' flags.
  static constexpr int kAutoGainControl = 2;

  explicit VoiceMediaEngine(std::unique_ptr<VoiceEngine> engine);
  ~VoiceMediaEngine();
  VoiceMediaEngine(const VoiceMediaEngine&) = delete;
  VoiceMediaEngine& operator=(const VoiceMediaEngine&) = delete;

  bool Init();
  void Terminate();
  std::unique_ptr<VoiceMediaChannel> CreateChannel();
  bool SetOptions(int flags);
  // Indexes into the sound server's device lists; -1 is the default device. On failure, the
  // engine's error number.
  int SetDevices(int input_device, int output_device);
  int GetInputLevel();

  // What the engine reported at Init, with preferences from the table.
  const std::vector<Codec>& codecs() const { return codecs_; }
  VoiceEngine* engine() { return engine_.get(); }

 private:
  std::unique_ptr<VoiceEngine> engine_;
  std::vector<Codec> codecs_;
  bool initialized_ = false;
};

}  // namespace vexalo
