#include "xmpp/roster/invitesremainingtask.h"

#include "text/asciitext.h"
#include "xmpp/stream/constants.h"

namespace vexalo {

InvitesRemainingTask::InvitesRemainingTask(StepTaskParent* parent) : RequestTask(parent, kStrGet) {
  SetTimeout(kDefaultTimeout);
}

std::unique_ptr<XmlElem> InvitesRemainingTask::MakePayload() {
  return std::make_unique<XmlElem>(kQnGrInvitesRemaining, true);
}

void InvitesRemainingTask::ReadAnswer(const XmlElem& answer) {
  const XmlElem* count = answer.FindChild(kQnGrInvitesRemaining);
  int32_t n = 0;
  if (answer.GetAttribute(kQnType) == kStrResult && count != nullptr &&
      ReadLeadingDecimal(count->OnlyText(), 0, kMaxInvites, &n)) {
    SignalInvitesRemaining(n);
  }
}

}  // namespace vexalo
