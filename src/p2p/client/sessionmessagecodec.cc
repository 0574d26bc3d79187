#include "p2p/client/sessionmessagecodec.h"

#include <utility>

#include "base/runtime/logging.h"
#include "p2p/client/candidateelement.h"
#include "xmpp/stream/constants.h"

namespace vexalo {

namespace {
const XmlName kAttrInitiator("", "initiator");
}  // namespace

SessionMessageCodec::SessionMessageCodec(std::string session_namespace, DescriptionFormat* format)
    : session_namespace_(std::move(session_namespace)),
      format_(format),
      session_name_(session_namespace_, "session"),
      candidate_name_(session_namespace_, "candidate"),
      target_name_(session_namespace_, "target"),
      cookie_name_(session_namespace_, "cookie"),
      regarding_name_(session_namespace_, "regarding"),
      description_name_(format->description_namespace(), "description") {}

const XmlElem* SessionMessageCodec::SessionChild(const XmlElem& stanza) const {
  if (stanza.Name() != kQnIq || stanza.GetAttribute(kQnType) != kStrSet) return nullptr;
  return stanza.FindChild(session_name_);
}

bool SessionMessageCodec::IsSessionStanza(const XmlElem& stanza) const {
  const XmlElem* session = SessionChild(stanza);
  if (session == nullptr) return false;
  bool wants_description = false;
  if (session->HasAttribute(kQnType)) {
    auto type = SessionMessage::TypeFromName(session->GetAttribute(kQnType));
    if (!type) return false;
    wants_description = SessionMessage::CarriesDescription(*type);
  }
  return (session->FindChild(description_name_) != nullptr) == wants_description;
}

SessionMessageCodec::ParseResult SessionMessageCodec::Parse(const XmlElem& stanza,
                                                            SessionMessage* out) const {
  if (!IsSessionStanza(stanza)) return PARSE_NOT_OURS;
  const XmlElem* session = SessionChild(stanza);
  SessionMessage message;
  message.iq_id = stanza.GetAttribute(kQnId);
  message.from = stanza.GetAttribute(kQnFrom);
  message.to = stanza.GetAttribute(kQnTo);
  message.session_id = {session->GetAttribute(kQnId), session->GetAttribute(kAttrInitiator)};
  message.stanza = std::make_unique<XmlElem>(stanza);
  // The filter let a missing type through: it names no message this side knows.
  auto type = SessionMessage::TypeFromName(session->GetAttribute(kQnType));
  if (!type) {
    *out = std::move(message);
    return PARSE_UNKNOWN_METHOD;
  }
  message.type = *type;
  // Without both halves of the id the message can reach no session; without a sender it
  // cannot be checked against the session's peer.
  if (message.session_id.id.empty() || message.session_id.initiator.empty() ||
      message.from.empty()) {
    LOG(kWarning) << "Session message without id, initiator or sender";
    *out = std::move(message);
    return PARSE_UNACCEPTABLE;
  }
  message.description_namespace = format_->description_namespace();
  switch (message.type) {
    case SessionMessage::TYPE_INITIATE:
    case SessionMessage::TYPE_ACCEPT:
    case SessionMessage::TYPE_MODIFY:
      message.description = format_->ParseDescription(*session->FindChild(description_name_));
      if (!message.description) {
        *out = std::move(message);
        return PARSE_UNACCEPTABLE;
      }
      // The children of a redirect's cookie come back beside the description.
      for (const XmlElem* child = session->FirstChildElement(); child;
           child = child->NextSiblingElement()) {
        if (child->Name() == description_name_) continue;
        if (!message.cookie) message.cookie = std::make_unique<XmlElem>(cookie_name_);
        message.cookie->AppendChild(std::make_unique<XmlElem>(*child));
      }
      break;
    case SessionMessage::TYPE_CANDIDATES: {
      size_t count = 0;
      for (const XmlElem* child = session->FindChild(candidate_name_); child;
           child = child->FindNextSibling(candidate_name_)) {
        if (++count > kMaxCandidatesPerMessage) {
          LOG(kWarning) << "Session message with more than " << kMaxCandidatesPerMessage
                        << " candidates refused";
          message.candidates.clear();
          *out = std::move(message);
          return PARSE_UNACCEPTABLE;
        }
        Candidate candidate;
        if (CandidateElement::Parse(*child, &candidate, nullptr)) {
          message.candidates.push_back(std::move(candidate));
        }
      }
      break;
    }
    case SessionMessage::TYPE_REDIRECT: {
      const XmlElem* target = session->FindChild(target_name_);
      if (target != nullptr) message.redirect_target = target->GetAttribute(kQnName);
      if (message.redirect_target.empty()) {
        *out = std::move(message);
        return PARSE_UNACCEPTABLE;
      }
      if (const XmlElem* cookie = session->FindChild(cookie_name_)) {
        message.cookie = std::make_unique<XmlElem>(*cookie);
      }
      break;
    }
    case SessionMessage::TYPE_REJECT:
    case SessionMessage::TYPE_TERMINATE:
      break;
  }
  *out = std::move(message);
  return PARSE_OK;
}

std::unique_ptr<XmlElem> SessionMessageCodec::Write(const SessionMessage& message,
                                                    const std::string& local_jid) const {
  auto iq = std::make_unique<XmlElem>(kQnIq);
  iq->SetAttribute(kQnTo, message.to);
  iq->SetAttribute(kQnType, kStrSet);
  auto session = std::make_unique<XmlElem>(session_name_, true);
  session->SetAttribute(kQnType, SessionMessage::TypeName(message.type));
  session->SetAttribute(kQnId, message.session_id.id);
  session->SetAttribute(kAttrInitiator, message.session_id.initiator);
  switch (message.type) {
    case SessionMessage::TYPE_INITIATE:
    case SessionMessage::TYPE_ACCEPT:
    case SessionMessage::TYPE_MODIFY:
      if (message.description) {
        session->AppendChild(format_->WriteDescription(*message.description));
      } else {
        session->AppendChild(std::make_unique<XmlElem>(description_name_, true));
      }
      if (message.cookie) {
        for (const XmlElem* child = message.cookie->FirstChildElement(); child;
             child = child->NextSiblingElement()) {
          session->AppendChild(std::make_unique<XmlElem>(*child));
        }
      }
      break;
    case SessionMessage::TYPE_CANDIDATES:
      for (const Candidate& candidate : message.candidates) {
        session->AppendChild(CandidateElement::Write(candidate, candidate_name_));
      }
      break;
    case SessionMessage::TYPE_REDIRECT: {
      XmlElem* target = session->AppendChild(std::make_unique<XmlElem>(target_name_));
      target->SetAttribute(kQnName, message.redirect_target);
      XmlElem* cookie = session->AppendChild(std::make_unique<XmlElem>(cookie_name_));
      if (message.cookie) {
        for (const XmlElem* child = message.cookie->FirstChildElement(); child;
             child = child->NextSiblingElement()) {
          cookie->AppendChild(std::make_unique<XmlElem>(*child));
        }
      } else {
        XmlElem* regarding = cookie->AppendChild(std::make_unique<XmlElem>(regarding_name_));
        regarding->SetAttribute(kQnName, local_jid);
      }
      break;
    }
    case SessionMessage::TYPE_REJECT:
    case SessionMessage::TYPE_TERMINATE:
      break;
  }
  iq->AppendChild(std::move(session));
  return iq;
}

std::unique_ptr<XmlElem> SessionMessageCodec::WriteResponse(const SessionResponse& response) const {
  auto iq = std::make_unique<XmlElem>(kQnIq);
  iq->SetAttribute(kQnTo, response.to);
  iq->SetAttribute(kQnId, response.iq_id);
  if (response.kind == SessionResponse::KIND_ACK) {
    iq->SetAttribute(kQnType, kStrResult);
    return iq;
  }
  iq->SetAttribute(kQnType, kStrError);
  XmlElem* error = iq->AppendChild(std::make_unique<XmlElem>(kQnError));
  const XmlName* condition = &kQnStanzaBadRequest;
  const char* session_error = "unacceptable-options";
  const char* error_type = "modify";
  if (response.kind == SessionResponse::KIND_UNKNOWN_SESSION) {
    condition = &kQnStanzaItemNotFound;
    session_error = "unknown-session";
    error_type = "cancel";
  } else if (response.kind == SessionResponse::KIND_UNKNOWN_METHOD) {
    session_error = "unknown-method";
    error_type = "cancel";
  }
  error->SetAttribute(kQnType, error_type);
  error->AppendChild(std::make_unique<XmlElem>(*condition, true));
  error->AppendChild(std::make_unique<XmlElem>(XmlName(session_namespace_, session_error), true));
  return iq;
}

}  // namespace vexalo
