#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "base/runtime/signal.h"
#include "p2p/client/sessionclient.h"
#include "p2p/client/sessionid.h"
#include "session/phone/call.h"
#include "session/phone/codecnegotiator.h"
#include "session/phone/phonedescriptionformat.h"
#include "session/phone/voicechannelpool.h"
#include "voice/voiceengine.h"

namespace vexalo {

// Keeps the phone description format alive for the session client built on it.
struct PhoneFormatHolder {
  explicit PhoneFormatHolder(const std::string& phone_namespace) : phone_format(phone_namespace) {}
  PhoneDescriptionFormat phone_format;
};

// The session client of calls: turns phone sessions into calls, negotiates their codecs,
// rejects offers we cannot speak, and keeps the audio focus on at most one call.
class CallClient : private PhoneFormatHolder, public SessionClient {
 public:
  // `engine` becomes the calls' voice engine, started on the registry's worker thread.
  CallClient(SessionRegistry* registry, const std::string& session_namespace,
             const std::string& phone_namespace, const std::string& local_jid,
             std::unique_ptr<VoiceEngine> engine);
  ~CallClient() override;

  Call* CreateCall();
  void DestroyCall(Call* call);
  void SetFocus(Call* call);
  Call* focus() const { return focus_; }
  Call* CallOf(const Session* session) const;
  const std::map<uint32_t, std::unique_ptr<Call>>& calls() const { return calls_; }

  PhoneDescription CreateOffer() const { return pool_.negotiator().CreateOffer(); }
  PhoneDescription CreateAnswer(const PhoneDescription& offer) const {
    return pool_.negotiator().CreateAnswer(offer);
  }
  // The remote side's description of a session, or an empty one.
  static PhoneDescription RemoteDescription(const Session* session);

  VoiceChannelPool* channel_pool() { return &pool_; }
  const std::string& local_jid() const { return local_jid_; }

  Signal<Call*> CallCreated;
  Signal<Call*> CallDestroyed;
  Signal<Call*, Call*> FocusChanged;

 protected:
  void OnSessionCreated(Session* session, bool received) override;
  void OnSessionDestroyed(Session* session) override;

 private:
  friend class Call;
  void MapSession(Session* session, Call* call) { session_calls_[session->id()] = call; }
  void OnReceivedSessionState(Session* session, Session::State state);

  std::string local_jid_;
  VoiceChannelPool pool_;
  std::map<uint32_t, std::unique_ptr<Call>> calls_;
  std::map<SessionId, Call*> session_calls_;
  Call* focus_ = nullptr;
};

}  // namespace vexalo
