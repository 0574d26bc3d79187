#pragma once

#include <memory>
#include <string>

#include "p2p/client/descriptionformat.h"
#include "p2p/client/sessionmessage.h"
#include "p2p/client/sessionresponse.h"
#include "xml/xmlelem.h"

namespace vexalo {

// The XML form of one session client's messages: which iqs are its own, how they read into
// `SessionMessage`s, how messages and replies are written.
class SessionMessageCodec {
 public:
  enum ParseResult {
    PARSE_OK = 0,
    PARSE_NOT_OURS = 1,      // leave the stanza to other handlers
    PARSE_UNACCEPTABLE = 2,  // ours, but refused: answer with an error
    // Ours without a type: answered as an unknown method rather than left unanswered.
    PARSE_UNKNOWN_METHOD = 3,
  };

  // A peer sends a few candidates per port and generation; more in one message is a flood.
  static constexpr size_t kMaxCandidatesPerMessage = 32;

  // `session_namespace` is the service profile's session namespace; `format` outlives the codec.
  SessionMessageCodec(std::string session_namespace, DescriptionFormat* format);

  const std::string& session_namespace() const { return session_namespace_; }
  const std::string& description_namespace() const { return format_->description_namespace(); }

  // An iq "set" with a "session" child whose type is known and that carries a description of
  // this client exactly when the type needs one.
  bool IsSessionStanza(const XmlElem& stanza) const;
  ParseResult Parse(const XmlElem& stanza, SessionMessage* out) const;
  // The iq to send (without "id": the sending task gives it one). `local_jid` names the sender
  // in the cookie of a redirect that has none of its own.
  std::unique_ptr<XmlElem> Write(const SessionMessage& message, const std::string& local_jid) const;
  // A result iq for an acknowledgement; otherwise an error iq naming the session error.
  std::unique_ptr<XmlElem> WriteResponse(const SessionResponse& response) const;

 private:
  const XmlElem* SessionChild(const XmlElem& stanza) const;

  std::string session_namespace_;
  DescriptionFormat* format_;
  XmlName session_name_;
  XmlName candidate_name_;
  XmlName target_name_;
  XmlName cookie_name_;
  XmlName regarding_name_;
  XmlName description_name_;
};

}  // namespace vexalo
