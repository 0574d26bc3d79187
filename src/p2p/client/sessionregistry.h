#pragma once

#include <map>
#include <memory>
#include <string>

#include "base/runtime/eventqueue.h"
#include "base/runtime/signal.h"
#include "p2p/client/portallocator.h"
#include "p2p/client/session.h"
#include "p2p/client/sessionmessage.h"
#include "p2p/client/sessionresponse.h"

namespace vexalo {

// Creates, finds and destroys sessions and routes incoming session messages to them. Lives
// on the signalling thread (the one current at construction).
class SessionRegistry : public SlotHost {
 public:
  static constexpr int kSessionTimeoutS = 50;
  // A contact flooding initiates cannot make more sessions than this with us at once.
  static constexpr size_t kMaxSessionsPerRemote = 4;

  // With a null worker, sockets run on the signalling thread.
  SessionRegistry(PortAllocator* allocator, EventQueue* signaling, EventQueue* worker);
  ~SessionRegistry() override;
  SessionRegistry(const SessionRegistry&) = delete;
  SessionRegistry& operator=(const SessionRegistry&) = delete;

  // A new session we initiate, with a random id.
  Session* CreateSession(const std::string& client_name, const std::string& initiator_jid);
  Session* CreateSession(const std::string& client_name, const SessionId& id, bool received);
  void DestroySession(Session* session);
  // Without a word to the peers: for when signalling has gone.
  void DestroyAllSessions();
  Session* FindSession(const SessionId& id) const;
  size_t session_count() const { return sessions_.size(); }

  void OnIncomingMessage(const SessionMessage& message);
  // A message we sent was answered with an error or not at all.
  void OnFailedSend(const SessionMessage& message);
  void OnSignalingReady();

  PortAllocator* allocator() const { return allocator_; }
  EventQueue* signaling_thread() const { return signaling_; }
  EventQueue* worker_thread() const { return worker_; }

  Signal<Session*, bool> SessionCreated;
  Signal<Session*> SessionDestroyed;
  Signal<> RequestSignaling;
  Signal<const SessionResponse&> SendError;

 private:
  void Refuse(const SessionMessage& message, SessionResponse::Kind kind);
  size_t SessionsWith(const std::string& remote) const;

  PortAllocator* allocator_;
  EventQueue* signaling_;
  EventQueue* worker_;
  std::map<SessionId, std::unique_ptr<Session>> sessions_;
};

}  // namespace vexalo
