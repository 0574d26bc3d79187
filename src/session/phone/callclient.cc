#include "session/phone/callclient.h"

#include "base/runtime/logging.h"
#include "p2p/base/randomgenerator.h"

namespace vexalo {

CallClient::CallClient(SessionRegistry* registry, const std::string& session_namespace,
                       const std::string& phone_namespace, const std::string& local_jid,
                       std::unique_ptr<VoiceEngine> engine)
    : PhoneFormatHolder(phone_namespace),
      SessionClient(registry, session_namespace, &phone_format, local_jid),
      local_jid_(local_jid),
      pool_(registry->worker_thread() != nullptr ? registry->worker_thread()
                                                 : registry->signaling_thread(),
            registry->signaling_thread(), std::move(engine)) {}

CallClient::~CallClient() {
  SetFocus(nullptr);
  while (!calls_.empty()) DestroyCall(calls_.begin()->second.get());
  pool_.Terminate();
}

Call* CallClient::CreateCall() {
  uint32_t id = RandomGenerator::Random32();
  while (calls_.count(id) != 0) id = RandomGenerator::Random32();
  auto owned = std::make_unique<Call>(this, id);
  Call* call = owned.get();
  calls_[id] = std::move(owned);
  CallCreated(call);
  return call;
}

void CallClient::DestroyCall(Call* call) {
  auto it = calls_.find(call->id());
  if (it == calls_.end() || it->second.get() != call) return;
  if (focus_ == call) SetFocus(nullptr);
  CallDestroyed(call);
  std::unique_ptr<Call> doomed = std::move(it->second);
  calls_.erase(it);
  std::vector<Session*> sessions = doomed->sessions();
  for (Session* session : sessions) {
    session_calls_.erase(session->id());
    doomed->RemoveSession(session);
    // The peer hears of it at once rather than at its session time-out.
    session->Terminate();
    registry()->DestroySession(session);
  }
}

void CallClient::SetFocus(Call* call) {
  if (call == focus_) return;
  Call* old = focus_;
  if (old != nullptr) old->EnableChannels(false);
  focus_ = call;
  if (call != nullptr) call->EnableChannels(true);
  FocusChanged(call, old);
}

Call* CallClient::CallOf(const Session* session) const {
  auto it = session_calls_.find(session->id());
  return it == session_calls_.end() ? nullptr : it->second;
}

PhoneDescription CallClient::RemoteDescription(const Session* session) {
  const auto* remote = dynamic_cast<const PhoneDescription*>(session->remote_description().get());
  return remote != nullptr ? *remote : PhoneDescription();
}

void CallClient::OnSessionCreated(Session* session, bool received) {
  if (!received) return;  // InitiateSession adds it
  session->StateChanged.Connect(this, &CallClient::OnReceivedSessionState);
  Call* call = CreateCall();
  MapSession(session, call);
  call->AddSession(session);
}

void CallClient::OnReceivedSessionState(Session* session, Session::State state) {
  if (state != Session::STATE_RECEIVEDINITIATE) return;
  // Nothing we could send or play: say no before anyone rings.
  if (!pool_.negotiator().HasVoiceCodec(CreateAnswer(RemoteDescription(session)))) {
    LOG(kInfo) << "No codec in common; rejecting the call";
    session->Reject();
  }
}

void CallClient::OnSessionDestroyed(Session* session) {
  auto it = session_calls_.find(session->id());
  if (it == session_calls_.end()) return;
  Call* call = it->second;
  session_calls_.erase(it);
  session->StateChanged.Disconnect(this);
  call->RemoveSession(session);
}

}  // namespace vexalo
