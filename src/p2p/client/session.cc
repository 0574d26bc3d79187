#include "p2p/client/session.h"

#include <utility>

#include "base/runtime/logging.h"

namespace vexalo {

namespace {
constexpr const char* kStateNames[] = {
    "Session::STATE_INIT",           "Session::STATE_SENTINITIATE",
    "Session::STATE_RECEIVEDINITIATE", "Session::STATE_SENTACCEPT",
    "Session::STATE_RECEIVEDACCEPT", "Session::STATE_SENTMODIFY",
    "Session::STATE_RECEIVEDMODIFY", "Session::STATE_SENTREJECT",
    "Session::STATE_RECEIVEDREJECT", "Session::STATE_SENTREDIRECT",
    "Session::STATE_SENTTERMINATE",  "Session::STATE_RECEIVEDTERMINATE",
    "Session::STATE_INPROGRESS"};
}  // namespace

Session::Session(const std::string& client_name, const SessionId& id, EventQueue* signaling,
                 EventQueue* worker, PortAllocator* allocator, int timeout_s)
    : client_name_(client_name),
      id_(id),
      signaling_(signaling),
      timeout_ms_(timeout_s * 1000),
      transport_(std::make_unique<SessionTransport>(signaling, worker, allocator)) {
  transport_->CandidatesReady.Connect(this, &Session::OnLocalCandidates);
  transport_->WritableChanged.Connect(this, [this] { ApplyWritability(); });
  transport_->RequestSignaling.Connect(this, [this] { RequestSignaling(this); });
}

Session::~Session() {
  signaling_->Clear(this);
  transport_.reset();
}

const char* Session::StateName(State state) { return kStateNames[state]; }

bool Session::Initiate(const std::string& remote_jid,
                       std::shared_ptr<const SessionDescription> description) {
  if (state_ != STATE_INIT) return false;
  initiator_ = true;
  remote_name_ = remote_jid;
  local_description_ = std::move(description);
  SendMessage(SessionMessage::TYPE_INITIATE, {}, nullptr);
  SetState(STATE_SENTINITIATE);
  transport_->AllowCandidates();
  RestartTimeout();
  return true;
}

bool Session::Accept(std::shared_ptr<const SessionDescription> description) {
  if (state_ != STATE_RECEIVEDINITIATE) return false;
  local_description_ = std::move(description);
  initiator_ = false;
  SendMessage(SessionMessage::TYPE_ACCEPT, {}, nullptr);
  SetState(STATE_SENTACCEPT);
  return true;
}

bool Session::Reject() {
  if (state_ != STATE_RECEIVEDINITIATE && state_ != STATE_RECEIVEDMODIFY) return false;
  initiator_ = false;
  SendMessage(SessionMessage::TYPE_REJECT, {}, nullptr);
  SetState(STATE_SENTREJECT);
  return true;
}

bool Session::Terminate() {
  if (state_ == STATE_SENTTERMINATE) return false;
  if (state_ != STATE_SENTREDIRECT) SendMessage(SessionMessage::TYPE_TERMINATE, {}, nullptr);
  SetState(STATE_SENTTERMINATE);
  return true;
}

P2PSocket* Session::CreateP2PSocket(const std::string& name) {
  return transport_->CreateP2PSocket(name);
}

void Session::DestroyP2PSocket(P2PSocket* socket) { transport_->DestroyP2PSocket(socket); }

void Session::SetState(State state) {
  if (state == state_) return;
  state_ = state;
  StateChanged(this, state);
  signaling_->Post(this, kStateMessage);
}

void Session::SetError(Error error) {
  if (error == error_) return;
  error_ = error;
  ErrorChanged(this, error);
  signaling_->Post(this, kErrorMessage);
}

void Session::SendMessage(SessionMessage::Type type, const std::vector<Candidate>& candidates,
                          const XmlElem* cookie) {
  SessionMessage message;
  message.type = type;
  message.to = remote_name_;
  message.description_namespace = client_name_;
  if (SessionMessage::CarriesDescription(type)) message.description = local_description_;
  message.session_id = id_;
  message.candidates = candidates;
  message.redirect_target = redirect_target_;
  if (cookie) message.cookie = std::make_unique<XmlElem>(*cookie);
  OutgoingMessage(this, message);
}

void Session::Acknowledge(const SessionMessage& message, SessionResponse::Kind kind) {
  SendResponse(this, SessionResponse{kind, message.from, message.iq_id});
}

void Session::RestartTimeout() {
  signaling_->Clear(this, kTimeoutMessage);
  signaling_->PostAfter(timeout_ms_, this, kTimeoutMessage);
}

void Session::OnLocalCandidates(const std::vector<Candidate>& candidates) {
  // One message stays within what the peer accepts in one.
  constexpr size_t kPerMessage = 32;
  for (size_t i = 0; i < candidates.size(); i += kPerMessage) {
    const size_t end = std::min(candidates.size(), i + kPerMessage);
    SendMessage(SessionMessage::TYPE_CANDIDATES,
                std::vector<Candidate>(candidates.begin() + static_cast<std::ptrdiff_t>(i),
                                       candidates.begin() + static_cast<std::ptrdiff_t>(end)),
                nullptr);
  }
}

void Session::OnIncomingMessage(const SessionMessage& message) {
  switch (message.type) {
    case SessionMessage::TYPE_INITIATE:
      remote_description_ = message.description;
      remote_name_ = message.from;
      client_name_ = message.description_namespace;
      initiator_ = false;
      SetState(STATE_RECEIVEDINITIATE);
      Acknowledge(message, SessionResponse::KIND_ACK);
      transport_->AllowCandidates();
      break;
    case SessionMessage::TYPE_ACCEPT:
      remote_description_ = message.description;
      Acknowledge(message, SessionResponse::KIND_ACK);
      SetState(STATE_RECEIVEDACCEPT);
      break;
    case SessionMessage::TYPE_MODIFY:
      remote_description_ = message.description;
      Acknowledge(message, SessionResponse::KIND_ACK);
      SetState(STATE_RECEIVEDMODIFY);
      break;
    case SessionMessage::TYPE_CANDIDATES:
      if (remote_candidates_ + message.candidates.size() > kMaxRemoteCandidates) {
        LOG(kWarning) << "Session " << id_.id << " refused candidates beyond "
                      << kMaxRemoteCandidates;
        Acknowledge(message, SessionResponse::KIND_UNACCEPTABLE);
        break;
      }
      remote_candidates_ += message.candidates.size();
      transport_->OnRemoteCandidates(message.candidates);
      Acknowledge(message, SessionResponse::KIND_ACK);
      break;
    case SessionMessage::TYPE_REJECT:
      Acknowledge(message, SessionResponse::KIND_ACK);
      SetState(STATE_RECEIVEDREJECT);
      break;
    case SessionMessage::TYPE_REDIRECT:
      if (state_ != STATE_SENTINITIATE) {
        Acknowledge(message, SessionResponse::KIND_ACK);
        break;
      }
      if (redirects_ >= kMaxRedirects || message.redirect_target == remote_name_) {
        LOG(kWarning) << "Session " << id_.id << " refused redirect to "
                      << message.redirect_target;
        Acknowledge(message, SessionResponse::KIND_UNACCEPTABLE);
        break;
      }
      ++redirects_;
      remote_name_ = message.redirect_target;
      redirect_target_.clear();
      SendMessage(SessionMessage::TYPE_INITIATE, {}, message.cookie.get());
      RestartTimeout();
      transport_->ResetSockets();
      Acknowledge(message, SessionResponse::KIND_ACK);
      break;
    case SessionMessage::TYPE_TERMINATE:
      Acknowledge(message, SessionResponse::KIND_ACK);
      SetState(STATE_RECEIVEDTERMINATE);
      break;
  }
}

void Session::ApplyWritability() {
  if (state_ != STATE_INPROGRESS) return;
  if (transport_->any_writable()) {
    signaling_->Clear(this, kTimeoutMessage);
  } else {
    RestartTimeout();
  }
}

void Session::HandleMessage(QueuedMessage* msg) {
  switch (msg->id) {
    case kTimeoutMessage:
      SetError(ERROR_TIME);
      break;
    case kErrorMessage:
      if (error_ == ERROR_TIME || error_ == ERROR_RESPONSE) Terminate();
      break;
    case kStateMessage:
      OnStateMessage();
      break;
    default:
      break;
  }
}

void Session::OnStateMessage() {
  switch (state_) {
    case STATE_SENTACCEPT:
    case STATE_RECEIVEDACCEPT:
      SetState(STATE_INPROGRESS);
      signaling_->Clear(this, kTimeoutMessage);
      ApplyWritability();
      break;
    case STATE_SENTREJECT:
    case STATE_RECEIVEDREJECT:
    case STATE_SENTREDIRECT:
      Terminate();
      break;
    case STATE_SENTTERMINATE:
    case STATE_RECEIVEDTERMINATE:
      // Last: the owner deletes this session.
      Ended(this);
      break;
    default:
      break;
  }
}

}  // namespace vexalo
