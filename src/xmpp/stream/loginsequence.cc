#include "xmpp/stream/loginsequence.h"

#include "base/runtime/logging.h"
#include "xmpp/stream/constants.h"
#include "xmpp/stream/servicedomains.h"

namespace vexalo {

void LoginSequence::Step(const XmlElem* stanza, bool is_header) {
  pending_ = stanza;
  pending_is_header_ = is_header;
  while (state_ != kLoginDone && RunState()) {
  }
  pending_ = nullptr;
}

void LoginSequence::QueueStanza(const XmlElem& stanza) {
  queued_.push_back(std::make_unique<XmlElem>(stanza));
}

const XmlElem* LoginSequence::TakeStanza() {
  const XmlElem* stanza = pending_;
  pending_ = nullptr;
  return stanza;
}

bool LoginSequence::Fail(EngineError code) {
  LOG(kInfo) << "login failed in state " << static_cast<int>(state_) << ": "
             << EngineErrorName(code);
  state_ = kLoginDone;
  queued_.clear();
  engine_.FailLogin(code);
  return false;
}

bool LoginSequence::RunState() {
  switch (state_) {
    case kLoginOpenStream:
      features_.reset();
      engine_.OpenStream();
      state_ = kLoginAwaitHeader;
      return true;
    case kLoginAwaitHeader:
      return AwaitHeader();
    case kLoginAwaitFeatures:
      return AwaitFeatures();
    case kLoginStartTls:
      return StartTls();
    case kLoginStartAuth:
      return StartAuth();
    case kLoginStartBind:
      return StartBind();
    case kLoginAwaitProceed:
      return AwaitProceed();
    case kLoginAwaitAuth:
      return AwaitAuth();
    case kLoginAwaitBind:
      return AwaitBind();
    case kLoginAwaitSession:
      return AwaitSession();
    case kLoginDone:
      break;
  }
  return false;
}

bool LoginSequence::AwaitHeader() {
  const bool is_header = pending_is_header_;
  const XmlElem* header = TakeStanza();
  if (header == nullptr) return false;
  if (!is_header || header->Name() != kQnStream || header->GetAttribute(kQnXmlns) != kNsClient ||
      header->GetAttribute(kQnVersion) != "1.0" || !header->HasAttribute(kQnId)) {
    return Fail(EngineError::kBadStreamHeader);
  }
  stream_id_ = header->GetAttribute(kQnId);
  state_ = kLoginAwaitFeatures;
  return true;
}

bool LoginSequence::AwaitFeatures() {
  const bool is_header = pending_is_header_;
  const XmlElem* features = TakeStanza();
  if (features == nullptr) return false;
  if (is_header || features->Name() != kQnStreamFeatures) {
    return Fail(EngineError::kBadStreamHeader);
  }
  features_ = std::make_unique<XmlElem>(*features);
  // TLS whenever the server offers it, whatever the account says: credentials and chats
  // never travel in clear when they need not.
  const bool offered = features_->FindChild(kQnTlsStarttls) != nullptr;
  use_tls_ = !engine_.IsEncrypted() && (engine_.GetUseTls() || offered);
  if (use_tls_) {
    state_ = kLoginStartTls;
  } else if (auth_pending_) {
    state_ = kLoginStartAuth;
  } else {
    state_ = kLoginStartBind;
  }
  return true;
}

bool LoginSequence::StartTls() {
  if (features_->FindChild(kQnTlsStarttls) == nullptr) return Fail(EngineError::kTlsFailed);
  engine_.PrintStanza(XmlElem(kQnTlsStarttls, true));
  state_ = kLoginAwaitProceed;
  return true;
}

bool LoginSequence::AwaitProceed() {
  const XmlElem* answer = TakeStanza();
  if (answer == nullptr) return false;
  if (answer->Name() != kQnTlsProceed) return Fail(EngineError::kTlsFailed);
  engine_.StartTls(engine_.GetUser().DomainPart());
  use_tls_ = false;
  state_ = kLoginOpenStream;
  return true;
}

bool LoginSequence::StartAuth() {
  const XmlElem* mechanisms = features_->FindChild(kQnSaslMechanisms);
  if (mechanisms == nullptr) return Fail(EngineError::kAuthFailed);
  std::vector<std::string> offered;
  for (const XmlElem* mechanism = mechanisms->FindChild(kQnSaslMechanism); mechanism != nullptr;
       mechanism = mechanism->FindNextSibling(kQnSaslMechanism)) {
    offered.push_back(mechanism->OnlyText());
  }
  MechanismChooser* chooser = engine_.GetMechanismChooser();
  if (chooser == nullptr) return Fail(EngineError::kAuthFailed);
  const std::string name = chooser->ChooseMechanism(offered, engine_.IsEncrypted());
  if (name.empty()) return Fail(EngineError::kAuthFailed);
  mechanism_ = chooser->CreateMechanism(name);
  if (mechanism_ == nullptr) return Fail(EngineError::kAuthFailed);
  std::unique_ptr<XmlElem> auth = mechanism_->StartAuth();
  if (auth == nullptr) return Fail(EngineError::kAuthFailed);
  engine_.PrintStanza(*auth);
  state_ = kLoginAwaitAuth;
  return true;
}

bool LoginSequence::AwaitAuth() {
  const XmlElem* answer = TakeStanza();
  if (answer == nullptr) return false;
  // Anything but a SASL answer here is a stanza before authentication: a broken or hostile
  // server, not a refused password.
  if (answer->Name().NamespaceUri() != kNsSasl) return Fail(EngineError::kOutOfOrder);
  if (answer->Name() == kQnSaslChallenge) {
    std::unique_ptr<XmlElem> response = mechanism_->HandleChallenge(*answer);
    if (response == nullptr) return Fail(EngineError::kAuthFailed);
    engine_.PrintStanza(*response);
    return true;
  }
  if (answer->Name() == kQnSaslSuccess) {
    mechanism_->OnSuccess(*answer);
    mechanism_.reset();
    auth_pending_ = false;
    state_ = kLoginOpenStream;
    return true;
  }
  mechanism_->OnFailure(*answer);
  return Fail(EngineError::kAuthRejected);
}

bool LoginSequence::StartBind() {
  if (features_->FindChild(kQnBind) == nullptr) return Fail(EngineError::kBindFailed);
  session_offered_ = features_->FindChild(kQnSession) != nullptr;
  iq_id_ = engine_.NextId();
  XmlElem iq(kQnIq);
  iq.AppendAttribute(kQnType, kStrSet);
  iq.AppendAttribute(kQnId, iq_id_);
  XmlElem* bind = iq.AppendChild(std::make_unique<XmlElem>(kQnBind, true));
  const std::string& resource = engine_.GetRequestedResource();
  if (!resource.empty()) {
    bind->AppendChild(std::make_unique<XmlElem>(kQnBindResource))->AppendText(resource);
  }
  engine_.PrintStanza(iq);
  state_ = kLoginAwaitBind;
  return true;
}

bool LoginSequence::IsAnswerToOurIq(const XmlElem& stanza) const {
  if (stanza.Name() != kQnIq || stanza.GetAttribute(kQnId) != iq_id_) return false;
  const std::string& type = stanza.GetAttribute(kQnType);
  return type != kStrGet && type != kStrSet;
}

bool LoginSequence::AwaitBind() {
  const XmlElem* answer = TakeStanza();
  if (answer == nullptr) return false;
  if (!IsAnswerToOurIq(*answer)) return true;  // not ours; keep waiting
  const XmlElem* bind = answer->FirstChildElement();
  if (answer->GetAttribute(kQnType) != kStrResult || bind == nullptr || bind->Name() != kQnBind) {
    return Fail(EngineError::kBindFailed);
  }
  bound_ = XmppAddress(bind->ChildText(kQnBindJid));
  const XmppAddress& user = engine_.GetUser();
  if (!bound_.HasResource()) return Fail(EngineError::kBindFailed);
  if (user.DomainPart() != CurrentServiceDomains().fallback_host &&
      bound_.WithoutResource() != user) {
    return Fail(EngineError::kBoundElsewhere);
  }
  if (!session_offered_) return Complete();
  iq_id_ = engine_.NextId();
  XmlElem iq(kQnIq);
  iq.AppendAttribute(kQnType, kStrSet);
  iq.AppendAttribute(kQnId, iq_id_);
  iq.AppendChild(std::make_unique<XmlElem>(kQnSession, true));
  engine_.PrintStanza(iq);
  state_ = kLoginAwaitSession;
  return true;
}

bool LoginSequence::AwaitSession() {
  const XmlElem* answer = TakeStanza();
  if (answer == nullptr) return false;
  if (!IsAnswerToOurIq(*answer)) return true;
  if (answer->GetAttribute(kQnType) != kStrResult) return Fail(EngineError::kBindFailed);
  return Complete();
}

bool LoginSequence::Complete() {
  engine_.OnBound(bound_);
  for (const std::unique_ptr<XmlElem>& stanza : queued_) engine_.PrintStanza(*stanza);
  queued_.clear();
  state_ = kLoginDone;
  return false;
}

}  // namespace vexalo
