#include "xmpp/presence/sharedstatuspushtask.h"

#include <memory>

#include "xmpp/stream/constants.h"
#include "xmpp/stream/serverpush.h"

namespace vexalo {

SharedStatusPushTask::SharedStatusPushTask(StepTaskParent* parent)
    : StanzaTask(parent, kLevelFirst) {}

bool SharedStatusPushTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchRequestIq(stanza, kStrSet, kQnSharedStatusQuery)) return false;
  if (!ServerPush::IsFromOwnServerOrAccount(stanza, BoundAddress())) {
    SendStanzaError(stanza, StanzaErrorCondition::kForbidden, "");
    return true;
  }
  std::unique_ptr<XmlElem> ack = MakeIqResult(stanza);
  ack->AppendChild(std::make_unique<XmlElem>(kQnSharedStatusQuery, true));
  SendStanza(*ack);
  QueueStanza(stanza);
  return true;
}

int SharedStatusPushTask::ProcessStart() {
  while (const XmlElem* push = NextStanza()) {
    SignalSharedStatus(SharedStatus::Parse(*push->FindChild(kQnSharedStatusQuery)));
    if (done() || aborted()) return STATE_DONE;
  }
  return STATE_BLOCKED;
}

}  // namespace vexalo
