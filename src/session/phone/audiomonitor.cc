#include "session/phone/audiomonitor.h"

#include <algorithm>

#include "session/phone/voicemediachannel.h"
#include "session/phone/voicemediaengine.h"

namespace vexalo {

AudioMonitor::AudioMonitor(VoiceMediaEngine* engine, VoiceMediaChannel* channel,
                           EventQueue* poll_thread, EventQueue* report_thread, int interval_ms,
                           Listener listener)
    : PollingMonitor(poll_thread, report_thread, std::max(interval_ms, kMinIntervalMs)),
      engine_(engine),
      channel_(channel),
      listener_(std::move(listener)) {}

MessagePayload* AudioMonitor::Sample() {
  return new MessageData<AudioLevels>(
      AudioLevels{engine_->GetInputLevel(), channel_->GetOutputLevel()});
}

void AudioMonitor::Deliver(MessagePayload* sample) {
  listener_(static_cast<MessageData<AudioLevels>*>(sample)->value());
}

}  // namespace vexalo
