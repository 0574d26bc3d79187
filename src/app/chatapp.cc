#include "app/chatapp.h"

#include "app/contactrecord.h"
#include "base/runtime/logging.h"
#include "session/phone/callclient.h"
#include "session/phone/connectionpath.h"

namespace vexalo {
namespace {

constexpr int kAudioMonitorMs = 100;
constexpr int kConnectionMonitorMs = 250;

bool IsEnding(Session::State state) {
  return state >= Session::STATE_SENTREJECT && state <= Session::STATE_RECEIVEDTERMINATE;
}

}  // namespace

ChatApp::ChatApp(ChatAppHost* host, const XmppAddress& contact)
    : host_(host), contact_(contact.WithoutResource()), remote_(contact_) {
  RecomputeCallable();
}

ChatApp::~ChatApp() {
  // Nobody listens any more: let go of the call without reporting states.
  if (call_ != nullptr) Unbind();
}

void ChatApp::SetState(int32_t state) {
  if (state == state_) return;
  state_ = state;
  LOG(kInfo) << "State " << CallUserStateName(state) << " " << contact_.ToString();
  StateChanged(this, state);
}

void ChatApp::RecordEndReason(int reason) {
  if (end_reason_ == kNoReason) end_reason_ = reason;
}

void ChatApp::SetCallUserState(int32_t requested) {
  if (requested == state_) return;
  if (requested < 0) {
    SetState(requested);
    return;
  }
  if (requested >= CUS_INCOMING_RING) {
    const bool has_call = call_ != nullptr;
    bool allowed = false;
    switch (requested) {
      case CUS_INCOMING_RING:
        allowed = has_call && (state_ == CUS_NOT_CALLABLE || state_ == CUS_CALLABLE);
        break;
      case CUS_OUTGOING_RING: allowed = has_call && state_ == CUS_CALLABLE; break;
      case CUS_ACTIVE_CALL:
        allowed = has_call && (state_ == CUS_INCOMING_RING || state_ == CUS_OUTGOING_RING ||
                               state_ == CUS_CALL_ON_HOLD || state_ == CUS_CALL_ON_MUTE);
        break;
      case CUS_CALL_ON_HOLD:
      case CUS_CALL_ON_MUTE: allowed = has_call && state_ == CUS_ACTIVE_CALL; break;
      default: allowed = true; break;
    }
    if (allowed) {
      SetState(requested);
      return;
    }
    RecordEndReason(kRefused);
  }
  // Ending: the state settles through the notifications that follow.
  if (session_ != nullptr) {
    // A session that is ending already is left to end: answering a received terminate with
    // another would bounce terminates between the two sides until the sessions go.
    if (!IsEnding(session_->state())) session_->Terminate();
    return;
  }
  if (call_ != nullptr) {
    call_->Terminate();
    return;
  }
  RecomputeCallable();
}

void ChatApp::OnCallCommand() {
  if (state_ == CUS_INCOMING_RING) {
    OnAnswerCommand();
    return;
  }
  if (state_ != CUS_CALLABLE) return;
  XmppAddress target = CallTarget();
  if (!target.HasResource()) return;
  pending_target_ = target;
  host_->PlaceCall(target);
}

void ChatApp::OnAnswerCommand() {
  LOG(kInfo) << "In OnAnswerCommand: State " << CallUserStateName(state_);
  if (state_ != CUS_INCOMING_RING || call_ == nullptr || session_ == nullptr) return;
  LOG(kInfo) << "Accepting session";
  host_->OnCallAccepted(contact_);
  call_->AcceptSession(session_);
}

void ChatApp::OnRejectCommand() {
  if (state_ != CUS_INCOMING_RING || call_ == nullptr || session_ == nullptr) return;
  call_->RejectSession(session_);
}

void ChatApp::Mute() {
  if (state_ != CUS_ACTIVE_CALL) return;
  call_->Mute(true);
  SetCallUserState(CUS_CALL_ON_MUTE);
}

void ChatApp::Hold() {
  if (state_ != CUS_ACTIVE_CALL) return;
  SetCallUserState(CUS_CALL_ON_HOLD);
}

void ChatApp::Resume() {
  if (state_ != CUS_CALL_ON_HOLD && state_ != CUS_CALL_ON_MUTE) return;
  call_->Mute(false);
  SetCallUserState(CUS_ACTIVE_CALL);
}

bool ChatApp::AttachCall(Call* call, Session* session) {
  if (call_ != nullptr || (state_ != CUS_NOT_CALLABLE && state_ != CUS_CALLABLE)) return false;
  call_ = call;
  session_ = session;
  call->SessionRemoved.Connect(this, [this](Call*, Session* removed) {
    OnSessionDestroyed(removed);
  });
  call->SessionState.Connect(this, &ChatApp::OnCallSessionState);
  call->SessionError.Connect(this, &ChatApp::OnCallSessionError);
  call->ConnectionMonitor.Connect(
      this, [this](Call*, Session* from, const std::vector<ConnectionInfo>& infos) {
        if (from == session_) OnConnectionReport(infos);
      });
  call->AudioMonitor.Connect(this, [this](Call*, Session* from, const AudioLevels& levels) {
    if (from == session_) LevelsChanged(this, levels);
  });
  call->StartAudioMonitor(session, kAudioMonitorMs);
  call->StartConnectionMonitor(session, kConnectionMonitorMs);
  OnCallSessionState(call, session, session->state());
  return true;
}

void ChatApp::DetachCall(Call* call) {
  if (call != call_ || call == nullptr) return;
  Unbind();
  SetCallUserState(CUS_CALLABLE);
}

void ChatApp::Unbind() {
  if (session_ != nullptr) {
    call_->StopAudioMonitor(session_);
    call_->StopConnectionMonitor(session_);
  }
  call_->SessionRemoved.Disconnect(this);
  call_->SessionState.Disconnect(this);
  call_->SessionError.Disconnect(this);
  call_->ConnectionMonitor.Disconnect(this);
  call_->AudioMonitor.Disconnect(this);
  call_ = nullptr;
  session_ = nullptr;
}

void ChatApp::OnSessionDestroyed(Session* session) {
  if (session != session_ || session == nullptr) return;
  session_ = nullptr;
  SetCallUserState(CUS_CALLABLE);
}

void ChatApp::OnCallSessionState(Call* call, Session* session, Session::State state) {
  // A handler before us may have moved the session on (an automatic rejection): the later
  // state has been or will be reported, and this one would undo it.
  if (state != session->state()) return;
  if (session != session_) {
    // One call carries one session: a second one is turned down.
    if (state == Session::STATE_RECEIVEDINITIATE || state == Session::STATE_RECEIVEDMODIFY) {
      call->RejectSession(session);
    }
    return;
  }
  switch (state) {
    case Session::STATE_INIT: end_reason_ = kNoReason; break;
    case Session::STATE_SENTINITIATE: SetCallUserState(CUS_OUTGOING_RING); break;
    case Session::STATE_RECEIVEDINITIATE: SetCallUserState(CUS_INCOMING_RING); break;
    case Session::STATE_SENTACCEPT:
    case Session::STATE_RECEIVEDACCEPT:
    case Session::STATE_INPROGRESS: SetCallUserState(CUS_ACTIVE_CALL); break;
    case Session::STATE_SENTMODIFY:
    case Session::STATE_RECEIVEDMODIFY:
      RecordEndReason(kRefused);
      SetCallUserState(CUS_CALLABLE);
      break;
    case Session::STATE_SENTREJECT:
    case Session::STATE_RECEIVEDREJECT:
    case Session::STATE_SENTREDIRECT:
    case Session::STATE_SENTTERMINATE:
    case Session::STATE_RECEIVEDTERMINATE: SetCallUserState(CUS_CALLABLE); break;
    default: SetCallUserState(CUS_CALLABLE); break;
  }
}

void ChatApp::OnCallSessionError(Call*, Session* session, Session::Error error) {
  if (session != session_ || error == Session::ERROR_NONE) return;
  RecordEndReason(error);
  if (error == Session::ERROR_RESPONSE) host_->OnPeerRefusedSession(XmppAddress(session->remote_name()));
  SetCallUserState(CUS_CALLABLE);
}

int ChatApp::QualityLevel(const std::vector<ConnectionInfo>& infos, const ConnectionInfo** best) {
  *best = nullptr;
  for (const ConnectionInfo& info : infos) {
    if (info.best) *best = &info;
  }
  if (*best == nullptr || !(*best)->writable) return 0;
  const uint32_t rtt = (*best)->rtt;
  if (rtt > 1000) return 1;
  if (rtt > 500) return 2;
  if (rtt > 250) return 3;
  if (rtt > 100) return 4;
  return 5;
}

void ChatApp::OnConnectionReport(const std::vector<ConnectionInfo>& infos) {
  const ConnectionInfo* best = nullptr;
  const int level = QualityLevel(infos, &best);
  if (best == nullptr) {
    QualityChanged(this, 0, "", level);
    return;
  }
  QualityChanged(this, best->rtt, ConnectionPath(*best), level);
}

XmppAddress ChatApp::CallTarget() const {
  const ContactRecord* contact = host_->FindContact(contact_);
  if (contact == nullptr) return XmppAddress();
  if (remote_.HasResource() && contact->OffersVoice(remote_)) return remote_;
  return contact->ChooseResource(true);
}

void ChatApp::RecomputeCallable() {
  SetState(CallTarget().HasResource() ? CUS_CALLABLE : CUS_NOT_CALLABLE);
}

void ChatApp::OnContactUpdate() {
  if (state_ == CUS_NOT_CALLABLE || state_ == CUS_CALLABLE) RecomputeCallable();
  if (!remote_.HasResource()) return;
  const ContactRecord* contact = host_->FindContact(contact_);
  const PresenceStatus* resource = contact != nullptr ? contact->Resource(remote_) : nullptr;
  if (resource == nullptr || resource->show == ShowState::kAway ||
      resource->show == ShowState::kXa) {
    remote_ = contact_;
  }
}

}  // namespace vexalo
