#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/runtime/eventqueue.h"
#include "base/runtime/signal.h"
#include "p2p/client/p2psocket.h"
#include "p2p/client/session.h"
#include "session/phone/audiolevels.h"
#include "session/phone/audiomonitor.h"
#include "session/phone/connectioninfo.h"
#include "session/phone/connectionmonitor.h"
#include "session/phone/voicemediachannel.h"
#include "session/phone/voicepacketsender.h"

namespace vexalo {

class VoiceChannelPool;

// Joins one phone session's "rtp" socket to one engine channel. Lives on the worker thread;
// the signalling thread reaches it through posted messages (and its pool's synchronous calls).
// It sends and plays only while enabled (its call has the focus), not paused and writable;
// muted, it plays but does not send.
class VoiceChannel : public MessageTarget, public SlotHost, private VoicePacketSender {
 public:
  enum MessageId : uint32_t {
    kEnableMessage = 1,
    kDisableMessage = 2,
    kMuteMessage = 3,
    kUnmuteMessage = 4,
    kCodecMessage = 5,
    kPacketMessage = 6,
  };

  // On the worker thread, while the signalling thread waits for it.
  VoiceChannel(VoiceChannelPool* pool, Session* session,
               std::unique_ptr<VoiceMediaChannel> media_channel);
  ~VoiceChannel() override;
  VoiceChannel(const VoiceChannel&) = delete;
  VoiceChannel& operator=(const VoiceChannel&) = delete;

  void HandleMessage(QueuedMessage* msg) override;

  // From any thread: queue the change for the worker.
  void PostEnable(bool enable);
  void PostMute(bool mute);

  // Worker thread.
  void Enable();
  void Disable();
  void Mute();
  void Unmute();
  void Pause();
  void Unpause();
  void SetWritable(bool writable);
  void StartConnectionMonitor(int interval_ms);
  void StopConnectionMonitor();
  void StartAudioMonitor(int interval_ms);
  void StopAudioMonitor();

  Session* session() const { return session_; }
  P2PSocket* socket() const { return socket_; }
  VoiceMediaChannel* media_channel() const { return media_.get(); }
  bool enabled() const { return enabled_; }
  bool muted() const { return muted_; }
  bool paused() const { return paused_; }
  bool writable() const { return writable_; }
  // Packets that came on a connection other than the chosen one, and were not played.
  uint64_t foreign_packets() const { return foreign_packets_; }

  // Emitted on the signalling thread.
  Signal<VoiceChannel*, const std::vector<ConnectionInfo>&> ConnectionMonitorReport;
  Signal<VoiceChannel*, const AudioLevels&> AudioMonitorReport;

 private:
  void SendPacket(const char* data, size_t size) override;
  void OnSocketPacket(P2PSocket* socket, Connection* connection, const char* data, size_t size);
  void OnSessionState(Session* session, Session::State state);
  // Sets a flag that differs, logs and applies the engine rule; false when it was set already.
  bool ChangeFlag(bool* flag, bool value, const char* log_text);
  void ApplyEngineRule();

  VoiceChannelPool* pool_;
  Session* session_;
  std::unique_ptr<VoiceMediaChannel> media_;
  P2PSocket* socket_ = nullptr;
  EventQueue* worker_;
  EventQueue* signaling_;
  bool enabled_ = false;
  bool paused_ = false;
  bool writable_ = false;
  bool muted_ = false;
  int64_t enabled_at_ = 0;
  uint64_t foreign_packets_ = 0;
  std::unique_ptr<ConnectionMonitor> connection_monitor_;
  std::unique_ptr<AudioMonitor> audio_monitor_;
};

}  // namespace vexalo
