#include "p2p/client/sessionsendtask.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

SessionSendTask::SessionSendTask(StepTaskParent* parent, SessionClient* client,
                                 const XmlElem& stanza)
    : RequestTask(parent, kStrSet),
      client_(client),
      stanza_(stanza),
      to_(stanza.GetAttribute(kQnTo)) {
  SetTimeout(kTimeout100ns);
  // The client may go before the answer comes (the stack stops with the connection).
  client_->Destroying.Connect(this, [this] { client_ = nullptr; });
}

std::unique_ptr<XmlElem> SessionSendTask::MakePayload() {
  const XmlElem* session = stanza_.FirstChildElement();
  return session ? std::make_unique<XmlElem>(*session) : nullptr;
}

bool SessionSendTask::FromAddressee(const XmlElem& stanza) const {
  return MatchResponseIq(stanza, to_, task_id());
}

XmlElem SessionSendTask::Sent() const {
  XmlElem sent(stanza_);
  sent.SetAttribute(kQnId, task_id());
  return sent;
}

void SessionSendTask::ReadAnswer(const XmlElem& answer) {
  if (client_ == nullptr) return;
  if (answer.GetAttribute(kQnType) == kStrResult) {
    client_->OnResponse(Sent(), answer);
  } else {
    client_->OnFailedSend(Sent(), &answer);
  }
}

void SessionSendTask::OnTimeout() {
  if (client_ != nullptr) client_->OnFailedSend(Sent(), nullptr);
}

}  // namespace vexalo
