#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "base/runtime/eventqueue.h"
#include "p2p/client/session.h"
#include "session/phone/codecnegotiator.h"
#include "session/phone/voicechannel.h"
#include "session/phone/voicemediaengine.h"

namespace vexalo {

// Owns the voice engine and every voice channel. Its work runs on the worker thread; the
// signalling thread's calls wait for it there.
class VoiceChannelPool : public MessageTarget {
 public:
  enum MessageId : uint32_t { kRunMessage = 1 };

  // `thread` is the worker (the signalling thread itself where sessions have no worker).
  VoiceChannelPool(EventQueue* thread, EventQueue* signaling, std::unique_ptr<VoiceEngine> engine);
  ~VoiceChannelPool() override;
  VoiceChannelPool(const VoiceChannelPool&) = delete;
  VoiceChannelPool& operator=(const VoiceChannelPool&) = delete;

  void HandleMessage(QueuedMessage* msg) override;

  bool initialized() const { return initialized_; }
  // Null when the engine gave no channel.
  VoiceChannel* CreateVoiceChannel(Session* session);
  void DestroyVoiceChannel(VoiceChannel* channel);
  // Changing devices stops every channel for the time it takes.
  bool SetAudioOptions(bool agc, int input_device, int output_device);
  // Deletes every channel: the calls holding them must be gone.
  void Terminate();
  // Runs `work` on the worker and returns when it has run.
  void RunOnWorker(const std::function<void()>& work);

  EventQueue* thread() const { return thread_; }
  EventQueue* signaling_thread() const { return signaling_; }
  VoiceMediaEngine* engine() { return &engine_; }
  const CodecNegotiator& negotiator() const { return negotiator_; }
  size_t channel_count();

 private:
  EventQueue* thread_;
  EventQueue* signaling_;
  VoiceMediaEngine engine_;
  CodecNegotiator negotiator_;
  bool initialized_ = false;
  std::mutex channels_mutex_;
  std::vector<std::unique_ptr<VoiceChannel>> channels_;
};

}  // namespace vexalo
