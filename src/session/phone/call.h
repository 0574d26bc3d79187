#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/runtime/eventqueue.h"
#include "base/runtime/signal.h"
#include "p2p/client/session.h"
#include "p2p/client/sessionid.h"
#include "session/phone/audiolevels.h"
#include "session/phone/connectioninfo.h"

namespace vexalo {

class CallClient;
class VoiceChannel;

// One voice call: its sessions (normally one) and their voice channels. Lives on the
// signalling thread; goes when its last session has gone.
class Call : public MessageTarget, public SlotHost {
 public:
  enum MessageId : uint32_t { kCheckEmptyMessage = 1 };

  Call(CallClient* client, uint32_t id);
  ~Call() override;
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  void HandleMessage(QueuedMessage* msg) override;

  // Starts a session with `remote_jid` offering our codecs; null when it could not be sent.
  Session* InitiateSession(const std::string& remote_jid);
  // Each acts only on a session of this call.
  void AcceptSession(Session* session);
  void RejectSession(Session* session);
  void TerminateSession(Session* session);
  void Terminate();
  void Mute(bool mute);
  void EnableChannels(bool enable);
  void StartConnectionMonitor(Session* session, int interval_ms);
  void StopConnectionMonitor(Session* session);
  void StartAudioMonitor(Session* session, int interval_ms);
  void StopAudioMonitor(Session* session);

  // Called by the client.
  void AddSession(Session* session);
  void RemoveSession(Session* session);

  uint32_t id() const { return id_; }
  bool muted() const { return muted_; }
  const std::vector<Session*>& sessions() const { return sessions_; }
  bool HasSession(const Session* session) const;
  // The session's channel; null when it has none (the engine gave none).
  VoiceChannel* ChannelOf(const Session* session) const;

  Signal<Call*, Session*> SessionAdded;
  Signal<Call*, Session*> SessionRemoved;
  Signal<Call*, Session*, Session::State> SessionState;
  Signal<Call*, Session*, Session::Error> SessionError;
  Signal<Call*, Session*, const std::vector<ConnectionInfo>&> ConnectionMonitor;
  Signal<Call*, Session*, const AudioLevels&> AudioMonitor;

 private:
  // Runs `work` with the session's channel on the worker; nothing without a channel.
  void OnWorker(Session* session, const std::function<void(VoiceChannel*)>& work);

  CallClient* client_;
  uint32_t id_;
  std::vector<Session*> sessions_;
  std::map<SessionId, VoiceChannel*> channels_;
  bool muted_ = false;
};

}  // namespace vexalo
