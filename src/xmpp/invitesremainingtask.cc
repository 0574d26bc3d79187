#include "xmpp/invitesremainingtask.h"

#include <memory>

#include "text/asciitext.h"
#include "xmpp/constants.h"
#include "xmpp/rosteritem.h"

namespace vexalo {

InvitesRemainingTask::InvitesRemainingTask(StepTaskParent* parent)
    : StanzaTask(parent, kLevelFirst) {}

bool InvitesRemainingTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchResponseIq(stanza, kEmptyAddress, task_id())) return false;
  const std::string& type = stanza.GetAttribute(kQnType);
  if (type != kStrResult && type != kStrError) return false;
  QueueStanza(stanza);
  return true;
}

int InvitesRemainingTask::ProcessStart() {
  std::unique_ptr<XmlElem> iq = MakeIq(kStrGet, kEmptyAddress, task_id());
  iq->AppendChild(std::make_unique<XmlElem>(kQnGrInvitesRemaining, true));
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int InvitesRemainingTask::ProcessResponse() {
  const XmlElem* answer = NextStanza();
  if (answer == nullptr) return timed_out_ ? STATE_DONE : STATE_BLOCKED;
  const XmlElem* count = answer->FindChild(kQnGrInvitesRemaining);
  int32_t n = 0;
  if (answer->GetAttribute(kQnType) == kStrResult && count != nullptr &&
      ReadLeadingDecimal(count->OnlyText(), 0, kMaxInvites, &n)) {
    SignalInvitesRemaining(n);
  }
  return STATE_DONE;
}

void InvitesRemainingTask::Poll() {
  if (!timed_out_ && ElapsedTime() > timeout_) {
    timed_out_ = true;
    Wake();
  }
}

}  // namespace vexalo
