#pragma once

#include <functional>

#include "session/phone/audiolevels.h"
#include "session/phone/pollingmonitor.h"

namespace vexalo {

class VoiceMediaChannel;
class VoiceMediaEngine;

// Reports the microphone's and the channel's levels for the meters.
class AudioMonitor : public PollingMonitor {
 public:
  static constexpr int kMinIntervalMs = 100;
  using Listener = std::function<void(const AudioLevels&)>;

  AudioMonitor(VoiceMediaEngine* engine, VoiceMediaChannel* channel, EventQueue* poll_thread,
               EventQueue* report_thread, int interval_ms, Listener listener);

 private:
  MessagePayload* Sample() override;
  void Deliver(MessagePayload* sample) override;

  VoiceMediaEngine* engine_;
  VoiceMediaChannel* channel_;
  Listener listener_;
};

}  // namespace vexalo
