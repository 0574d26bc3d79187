#include "xmpp/stream/xmppconnection.h"

#include "base/runtime/logging.h"
#include "base/runtime/steptaskrunner.h"
#include "xmpp/stream/loginsequence.h"
#include "xmpp/stream/plainmechanismchooser.h"

namespace vexalo {

XmppConnection::XmppConnection(StepTaskParent* parent) : StepTask(parent) {}

XmppConnection::~XmppConnection() {
  // The socket may report its end while it is torn down; nobody is left to hear it.
  DisconnectAllSlots();
  if (!disconnected_signalled_) {
    disconnected_signalled_ = true;
    SignalDisconnected();
  }
}

EngineResult XmppConnection::Connect(const ConnectionSettings& settings,
                                     std::unique_ptr<ServiceSocket> socket,
                                     std::unique_ptr<PreLoginAuthenticator> authenticator) {
  if (socket == nullptr) return EngineResult::kBadArgument;
  if (socket_ != nullptr) return EngineResult::kBadState;
  const XmppAddress user(settings.user, settings.host, "");
  if (!user.IsValid()) return EngineResult::kBadArgument;

  socket_ = std::move(socket);
  socket_->Connected.Connect(this, &XmppConnection::OnSocketConnected);
  socket_->Readable.Connect(this, &XmppConnection::OnSocketReadable);
  socket_->Closed.Connect(this, &XmppConnection::OnSocketClosed);

  engine_ = std::make_unique<StreamEngine>(&LoginSequence::Create);
  engine_->SetOutputSink(this);
  engine_->SetStateListener(this);
  engine_->SetUser(user);
  if (!settings.resource.empty()) engine_->SetRequestedResource(settings.resource);
  engine_->SetUseTls(settings.use_tls);
  if (!settings.tls_server_name.empty()) engine_->SetTlsServerName(settings.tls_server_name);

  password_ = settings.password;
  cookie_ = settings.auth_cookie;
  server_ = settings.server;
  server_host_name_ = settings.server_host_name;
  server_port_ = settings.server_port;
  allow_clear_login_ = settings.allow_clear_login_on_loopback && settings.server.IsLoopbackIP();
  step_timeout_ = int64_t{settings.step_timeout_ms} * 10000;
  authenticator_ = std::move(authenticator);
  return EngineResult::kOk;
}

EngineError XmppConnection::GetError() const {
  if (engine_ == nullptr) return EngineError::kNone;
  if (pre_login_error_ != EngineError::kNone) return pre_login_error_;
  return engine_->GetError();
}

std::string XmppConnection::GetCaptchaChallenge() const {
  return engine_ != nullptr ? captcha_challenge_ : std::string();
}

const XmppAddress& XmppConnection::GetBoundAddress() const {
  return engine_ != nullptr ? engine_->GetBoundAddress() : kEmptyAddress;
}

EngineResult XmppConnection::SendStanza(const XmlElem& stanza) {
  if (engine_ == nullptr) return EngineResult::kBadState;
  return engine_->SendStanza(stanza);
}

EngineResult XmppConnection::SendStanzaError(const XmlElem& request,
                                             StanzaErrorCondition condition,
                                             std::string_view text) {
  if (engine_ == nullptr) return EngineResult::kBadState;
  return engine_->SendStanzaError(request, condition, text);
}

EngineResult XmppConnection::AddStanzaHandler(StanzaHandler* handler, HandlerLevel level) {
  if (engine_ == nullptr) return EngineResult::kBadState;
  return engine_->AddStanzaHandler(handler, level);
}

EngineResult XmppConnection::RemoveStanzaHandler(StanzaHandler* handler) {
  if (engine_ == nullptr) return EngineResult::kBadState;
  return engine_->RemoveStanzaHandler(handler);
}

const char* XmppConnection::StateName(int state) const {
  switch (state) {
    case STATE_PRE_XMPP_LOGIN:
      return "PRE_XMPP_LOGIN";
    case STATE_START_XMPP_LOGIN:
      return "START_XMPP_LOGIN";
    default:
      return StepTask::StateName(state);
  }
}

int XmppConnection::Process(int state) {
  switch (state) {
    case STATE_PRE_XMPP_LOGIN:
      return ProcessPreLogin();
    case STATE_START_XMPP_LOGIN:
      return ProcessStartLogin();
    default:
      return StepTask::Process(state);
  }
}

int XmppConnection::ProcessStart() {
  if (engine_ == nullptr) return STATE_ERROR;
  int next;
  if (authenticator_ != nullptr) {
    authenticator_->SignalAuthDone.Connect(this, &XmppConnection::OnAuthDone);
    authenticator_->StartPreLogin(engine_->GetUser(), server_, password_, cookie_);
    next = STATE_PRE_XMPP_LOGIN;
  } else {
    engine_->SetMechanismChooser(
        std::make_unique<PlainMechanismChooser>(engine_->GetUser(), password_, allow_clear_login_));
    next = STATE_START_XMPP_LOGIN;
  }
  // The chooser or the pre-login step holds what it needs; no other copy stays here.
  password_ = SecretText();
  return next;
}

int XmppConnection::ProcessPreLogin() {
  // Gone when the step timed out.
  if (authenticator_ == nullptr) return STATE_ERROR;
  if (!authenticator_->IsAuthDone()) return STATE_BLOCKED;
  if (authenticator_->IsAuthorized()) {
    auth_cookie_from_step_ = authenticator_->GetAuthCookie();
    authenticator_->SignalAuthDone.Disconnect(this);
    engine_->SetMechanismChooser(std::move(authenticator_));
    return STATE_START_XMPP_LOGIN;
  }
  if (authenticator_->HadError()) {
    pre_login_error_ = EngineError::kAuthFailed;
  } else {
    pre_login_error_ = EngineError::kAuthRejected;
    captcha_challenge_ = authenticator_->GetCaptchaChallenge();
  }
  LOG(kInfo) << "pre-login step failed: " << EngineErrorName(pre_login_error_);
  authenticator_.reset();
  SignalClosedOnce();
  return STATE_ERROR;
}

int XmppConnection::ProcessStartLogin() {
  if (!socket_->Connect(server_)) {
    LOG(kWarning) << "could not start connecting to " << server_.ToString();
    SignalClosedOnce();
    return STATE_ERROR;
  }
  return STATE_RESPONSE;
}

int XmppConnection::ProcessResponse() {
  // Listeners of the final state change are still running; finishing now would delete the
  // task under them.
  if (delivering_signal_) return STATE_BLOCKED;
  if (engine_ == nullptr || engine_->GetState() == EngineState::kClosed) return STATE_DONE;
  return STATE_BLOCKED;
}

StepTask* XmppConnection::FindAncestor(int code) {
  return code == kAncestorCode ? this : StepTask::FindAncestor(code);
}

void XmppConnection::Stop() {
  if (!disconnected_signalled_) {
    disconnected_signalled_ = true;
    SignalDisconnected();
  }
  StepTask::Stop();
}

void XmppConnection::Poll() {
  if (engine_ == nullptr || closed_signalled_ || step_timeout_ <= 0) return;
  const EngineState state = engine_->GetState();
  if (state == EngineState::kOpen || state == EngineState::kClosed) return;
  // Progress: the TCP connection made, then every header and stanza of the login.
  const uint64_t progress = (socket_connected_ ? 1 : 0) + engine_->login_progress();
  const int64_t now = runner()->CurrentTime();
  if (progress != progress_seen_ || progress_time_ == 0) {
    progress_seen_ = progress;
    progress_time_ = now;
    return;
  }
  if (now - progress_time_ < step_timeout_) return;
  LOG(kWarning) << "sign-in step timed out after " << step_timeout_ / 10000 << " ms";
  if (authenticator_ != nullptr && state == EngineState::kNew) {
    // Still in the pre-login step.
    pre_login_error_ = EngineError::kTimedOut;
    authenticator_.reset();
    if (socket_ != nullptr) socket_->Close();
    SignalClosedOnce();
    Wake();
    return;
  }
  engine_->FailLogin(EngineError::kTimedOut);
}

void XmppConnection::WriteOutput(const char* bytes, size_t length) {
  SignalLogOutput(bytes, length);
  if (socket_ != nullptr) socket_->Write(bytes, length);
}

void XmppConnection::StartTls(std::string_view server_name) {
  tls_pending_ = true;
  if (socket_ != nullptr) socket_->StartTls(std::string(server_name));
}

void XmppConnection::CloseConnection() {
  if (socket_ != nullptr) socket_->Close();
}

void XmppConnection::OnEngineStateChange(EngineState state) {
  if (state == EngineState::kClosed) {
    SignalClosedOnce();
  } else {
    SignalStateChange(state);
  }
  Wake();
}

void XmppConnection::SignalClosedOnce() {
  if (closed_signalled_) return;
  closed_signalled_ = true;
  delivering_signal_ = true;
  // The tasks first, so that they deliver what they hold while their listeners still listen.
  if (!disconnected_signalled_) {
    disconnected_signalled_ = true;
    SignalDisconnected();
  }
  SignalStateChange(EngineState::kClosed);
  delivering_signal_ = false;
}

void XmppConnection::OnSocketConnected() {
  socket_connected_ = true;
  if (engine_ != nullptr) engine_->Connect();
}

void XmppConnection::OnSocketReadable() {
  char buffer[kReadChunk];
  size_t count = 0;
  while (engine_ != nullptr && engine_->GetState() != EngineState::kClosed &&
         socket_->Read(buffer, sizeof(buffer), &count) && count > 0) {
    tls_pending_ = false;
    SignalLogInput(buffer, count);
    engine_->HandleInput(buffer, count);
  }
}

void XmppConnection::OnSocketClosed() {
  if (socket_ != nullptr && socket_->GetError() != ServiceSocket::ERROR_NONE) {
    LOG(kInfo) << "connection closed, socket error " << socket_->GetSocketError();
  }
  if (engine_ == nullptr) return;
  if (tls_pending_) {
    // Nothing came back over TLS: the handshake failed, and the user is told so.
    engine_->FailLogin(EngineError::kTlsFailed);
    return;
  }
  engine_->ConnectionClosed();
}

void XmppConnection::OnAuthDone() { Wake(); }

}  // namespace vexalo
