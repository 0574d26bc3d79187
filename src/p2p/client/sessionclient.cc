#include "p2p/client/sessionclient.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

SessionClient::SessionClient(SessionRegistry* registry, const std::string& session_namespace,
                             DescriptionFormat* format, const std::string& local_jid)
    : registry_(registry), codec_(session_namespace, format), local_jid_(local_jid) {
  registry_->SessionCreated.Connect(this, &SessionClient::OnRegistrySessionCreated);
  registry_->SessionDestroyed.Connect(this, [this](Session* session) {
    if (session->client_name() == client_namespace()) OnSessionDestroyed(session);
  });
  // The registry's errors answer a stanza that one client parsed; only that one replies.
  registry_->SendError.Connect(this, [this](const SessionResponse& response) {
    if (handling_incoming_) SendReply(response);
  });
}

SessionClient::~SessionClient() { Destroying(); }

Session* SessionClient::CreateSession() {
  return registry_->CreateSession(client_namespace(), local_jid_);
}

void SessionClient::OnRegistrySessionCreated(Session* session, bool received) {
  if (session->client_name() != client_namespace()) return;
  session->OutgoingMessage.Connect(this, &SessionClient::OnOutgoingMessage);
  session->SendResponse.Connect(
      this, [this](Session*, const SessionResponse& response) { SendReply(response); });
  OnSessionCreated(session, received);
}

void SessionClient::OnSessionCreated(Session*, bool) {}

void SessionClient::OnSessionDestroyed(Session*) {}

void SessionClient::OnIncomingStanza(const XmlElem& stanza) {
  SessionMessage message;
  switch (codec_.Parse(stanza, &message)) {
    case SessionMessageCodec::PARSE_OK:
      handling_incoming_ = true;
      registry_->OnIncomingMessage(message);
      handling_incoming_ = false;
      break;
    case SessionMessageCodec::PARSE_UNACCEPTABLE:
      SendReply({SessionResponse::KIND_UNACCEPTABLE, message.from, message.iq_id});
      break;
    case SessionMessageCodec::PARSE_UNKNOWN_METHOD:
      SendReply({SessionResponse::KIND_UNKNOWN_METHOD, message.from, message.iq_id});
      break;
    case SessionMessageCodec::PARSE_NOT_OURS:
      break;
  }
}

void SessionClient::OnResponse(const XmlElem&, const XmlElem&) {}

void SessionClient::OnFailedSend(const XmlElem& sent, const XmlElem*) {
  // What we sent names no sender; it is our own message.
  XmlElem copy(sent);
  copy.SetAttribute(kQnFrom, local_jid_);
  SessionMessage message;
  if (codec_.Parse(copy, &message) == SessionMessageCodec::PARSE_OK) {
    registry_->OnFailedSend(message);
  }
}

void SessionClient::OnOutgoingMessage(Session*, const SessionMessage& message) {
  SendStanza(this, *codec_.Write(message, local_jid_), false);
}

void SessionClient::SendReply(const SessionResponse& response) {
  SendStanza(this, *codec_.WriteResponse(response), true);
}

}  // namespace vexalo
