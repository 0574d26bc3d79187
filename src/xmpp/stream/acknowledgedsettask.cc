#include "xmpp/stream/acknowledgedsettask.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

AcknowledgedSetTask::AcknowledgedSetTask(StepTaskParent* parent, const XmppAddress& to)
    : StanzaTask(parent, kLevelFirst), to_(to) {}

bool AcknowledgedSetTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchResponseIq(stanza, to_, task_id())) return false;
  QueueStanza(stanza);
  return true;
}

int AcknowledgedSetTask::ProcessStart() {
  // Without an address the iq would go to our own server, which has no use for it.
  if (!to_.IsValid()) {
    SignalDone(false);
    return STATE_ERROR;
  }
  std::unique_ptr<XmlElem> iq = MakeIq(kStrSet, to_, task_id());
  AddPayload(iq.get());
  if (SendStanza(*iq) != EngineResult::kOk) {
    SignalDone(false);
    return STATE_ERROR;
  }
  return STATE_RESPONSE;
}

int AcknowledgedSetTask::ProcessResponse() {
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

void AcknowledgedSetTask::Poll() {
  if (state() == STATE_RESPONSE && ElapsedTime() >= timeout_) Wake();
}

}  // namespace vexalo
