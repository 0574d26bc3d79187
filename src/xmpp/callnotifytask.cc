#include "xmpp/callnotifytask.h"

#include <memory>

#include "xmpp/constants.h"

namespace vexalo {

CallNotifyTask::CallNotifyTask(StepTaskParent* parent, const XmppAddress& listener,
                               const XmppAddress& peer, std::string_view type)
    : StanzaTask(parent, kLevelFirst), listener_(listener), peer_(peer), type_(type) {}

bool CallNotifyTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchResponseIq(stanza, listener_, task_id())) return false;
  QueueStanza(stanza);
  return true;
}

int CallNotifyTask::ProcessStart() {
  // Without a listener the iq would go to our own server, which has no use for it.
  if (!listener_.IsValid()) {
    SignalDone(false);
    return STATE_ERROR;
  }
  std::unique_ptr<XmlElem> iq = MakeIq(kStrSet, listener_, task_id());
  XmlElem* notification = iq->AppendChild(std::make_unique<XmlElem>(kQnPhoneCallNotification, true));
  notification->AppendAttribute(kQnJid, peer_.ToString());
  notification->AppendAttribute(kQnType, type_);
  if (SendStanza(*iq) != EngineResult::kOk) {
    SignalDone(false);
    return STATE_ERROR;
  }
  return STATE_RESPONSE;
}

int CallNotifyTask::ProcessResponse() {
  if (const XmlElem* answer = NextStanza()) {
    SignalDone(answer->GetAttribute(kQnType) == kStrResult);
    return STATE_DONE;
  }
  if (ElapsedTime() >= timeout_) {
    SignalDone(false);
    return STATE_DONE;
  }
  return STATE_BLOCKED;
}

void CallNotifyTask::Poll() {
  if (state() == STATE_RESPONSE && ElapsedTime() >= timeout_) Wake();
}

}  // namespace vexalo
