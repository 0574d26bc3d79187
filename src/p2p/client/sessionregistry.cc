#include "p2p/client/sessionregistry.h"

#include <string>
#include <utility>

#include "base/runtime/logging.h"
#include "p2p/base/randomgenerator.h"

namespace vexalo {

SessionRegistry::SessionRegistry(PortAllocator* allocator, EventQueue* signaling,
                                 EventQueue* worker)
    : allocator_(allocator), signaling_(signaling), worker_(worker ? worker : signaling) {}

SessionRegistry::~SessionRegistry() { DestroyAllSessions(); }

void SessionRegistry::DestroyAllSessions() {
  while (!sessions_.empty()) DestroySession(sessions_.begin()->second.get());
}

Session* SessionRegistry::CreateSession(const std::string& client_name,
                                        const std::string& initiator_jid) {
  SessionId id{std::to_string(RandomGenerator::Random32()), initiator_jid};
  return CreateSession(client_name, id, false);
}

Session* SessionRegistry::CreateSession(const std::string& client_name, const SessionId& id,
                                        bool received) {
  auto session = std::make_unique<Session>(client_name, id, signaling_, worker_, allocator_,
                                           kSessionTimeoutS);
  Session* raw = session.get();
  raw->RequestSignaling.Connect(this, [this](Session*) { RequestSignaling(); });
  raw->Ended.Connect(this, &SessionRegistry::DestroySession);
  sessions_[id] = std::move(session);
  SessionCreated(raw, received);
  return raw;
}

void SessionRegistry::DestroySession(Session* session) {
  auto it = sessions_.find(session->id());
  if (it == sessions_.end() || it->second.get() != session) return;
  SessionDestroyed(session);
  std::unique_ptr<Session> owned = std::move(it->second);
  sessions_.erase(it);
}

Session* SessionRegistry::FindSession(const SessionId& id) const {
  auto it = sessions_.find(id);
  return it == sessions_.end() ? nullptr : it->second.get();
}

size_t SessionRegistry::SessionsWith(const std::string& remote) const {
  size_t count = 0;
  for (const auto& [id, session] : sessions_) {
    if (session->remote_name() == remote) ++count;
  }
  return count;
}

void SessionRegistry::Refuse(const SessionMessage& message, SessionResponse::Kind kind) {
  SendError(SessionResponse{kind, message.from, message.iq_id});
}

void SessionRegistry::OnIncomingMessage(const SessionMessage& message) {
  if (message.type == SessionMessage::TYPE_INITIATE) {
    // Only the initiator names itself as initiator; a repeated id would orphan the first
    // session; a flood from one party stops at the per-party bound.
    if (message.session_id.initiator != message.from || FindSession(message.session_id) ||
        SessionsWith(message.from) >= kMaxSessionsPerRemote) {
      LOG(kWarning) << "Session initiate refused: " << message.session_id.id;
      Refuse(message, SessionResponse::KIND_UNACCEPTABLE);
      return;
    }
    CreateSession(message.description_namespace, message.session_id, true)
        ->OnIncomingMessage(message);
    return;
  }
  Session* session = FindSession(message.session_id);
  // Another party's message about this session is treated as one about no session: a third
  // party can neither steer a session nor learn that it exists.
  if (session == nullptr || session->remote_name() != message.from) {
    Refuse(message, SessionResponse::KIND_UNKNOWN_SESSION);
    return;
  }
  session->OnIncomingMessage(message);
}

void SessionRegistry::OnFailedSend(const SessionMessage& message) {
  if (message.type == SessionMessage::TYPE_REDIRECT) return;
  Session* session = FindSession(message.session_id);
  if (session == nullptr || message.type == SessionMessage::TYPE_CANDIDATES) return;
  session->SetError(Session::ERROR_RESPONSE);
}

void SessionRegistry::OnSignalingReady() {
  for (auto& [id, session] : sessions_) session->OnSignalingReady();
}

}  // namespace vexalo
