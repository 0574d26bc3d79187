#include "session/phone/voicechannelpool.h"

#include <algorithm>

#include "base/runtime/loopthread.h"

namespace vexalo {

VoiceChannelPool::VoiceChannelPool(EventQueue* thread, EventQueue* signaling,
                                   std::unique_ptr<VoiceEngine> engine)
    : thread_(thread), signaling_(signaling), engine_(std::move(engine)) {
  RunOnWorker([this] {
    initialized_ = engine_.Init();
    negotiator_ = CodecNegotiator(engine_.codecs());
  });
}

VoiceChannelPool::~VoiceChannelPool() { Terminate(); }

void VoiceChannelPool::HandleMessage(QueuedMessage* msg) {
  if (msg->id != kRunMessage) return;
  auto work = msg->TakePayload<MessageData<const std::function<void()>*>>();
  (*work->value())();
}

void VoiceChannelPool::RunOnWorker(const std::function<void()>& work) {
  auto* loop = dynamic_cast<LoopThread*>(thread_);
  if (loop != nullptr && loop != signaling_ && loop->IsStarted() && !loop->IsCurrent()) {
    loop->Invoke(this, kRunMessage, new MessageData<const std::function<void()>*>(&work));
    return;
  }
  work();
}

VoiceChannel* VoiceChannelPool::CreateVoiceChannel(Session* session) {
  VoiceChannel* created = nullptr;
  RunOnWorker([&] {
    std::lock_guard lock(channels_mutex_);
    if (!initialized_) return;
    std::unique_ptr<VoiceMediaChannel> media = engine_.CreateChannel();
    if (!media) return;
    channels_.push_back(std::make_unique<VoiceChannel>(this, session, std::move(media)));
    created = channels_.back().get();
  });
  return created;
}

void VoiceChannelPool::DestroyVoiceChannel(VoiceChannel* channel) {
  RunOnWorker([&] {
    std::unique_ptr<VoiceChannel> doomed;
    std::lock_guard lock(channels_mutex_);
    auto it = std::find_if(channels_.begin(), channels_.end(),
                           [channel](const auto& owned) { return owned.get() == channel; });
    if (it == channels_.end()) return;
    doomed = std::move(*it);
    channels_.erase(it);
  });
}

bool VoiceChannelPool::SetAudioOptions(bool agc, int input_device, int output_device) {
  int error = 0;
  RunOnWorker([&] {
    engine_.SetOptions(agc ? VoiceMediaEngine::kAutoGainControl : 0);
    std::lock_guard lock(channels_mutex_);
    for (auto& channel : channels_) channel->Pause();
    error = engine_.SetDevices(input_device, output_device);
    for (auto& channel : channels_) channel->Unpause();
  });
  return error == 0;
}

void VoiceChannelPool::Terminate() {
  RunOnWorker([this] {
    if (!initialized_) return;
    {
      std::lock_guard lock(channels_mutex_);
      channels_.clear();
    }
    engine_.Terminate();
    initialized_ = false;
  });
}

size_t VoiceChannelPool::channel_count() {
  std::lock_guard lock(channels_mutex_);
  return channels_.size();
}

}  // namespace vexalo
