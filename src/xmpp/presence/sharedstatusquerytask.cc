#include "xmpp/presence/sharedstatusquerytask.h"

#include <memory>

#include "xmpp/stream/constants.h"

namespace vexalo {

SharedStatusQueryTask::SharedStatusQueryTask(StepTaskParent* parent)
    : StanzaTask(parent, kLevelFirst) {}

bool SharedStatusQueryTask::HandleStanza(const XmlElem& stanza) {
  // Asked of our bare address, which our server answers for: from it, from our domain or
  // without a "from" (as servers commonly do for the account's own data).
  if (!to_.IsValid() || !MatchResponseIq(stanza, kEmptyAddress, task_id())) return false;
  const std::string& type = stanza.GetAttribute(kQnType);
  if (type != kStrResult && type != kStrError) return false;
  QueueStanza(stanza);
  return true;
}

int SharedStatusQueryTask::ProcessStart() {
  to_ = BoundAddress().WithoutResource();
  std::unique_ptr<XmlElem> iq = MakeIq(kStrGet, to_, task_id());
  iq->AppendChild(std::make_unique<XmlElem>(kQnSharedStatusQuery, true));
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int SharedStatusQueryTask::ProcessResponse() {
  const XmlElem* answer = NextStanza();
  if (answer == nullptr) return STATE_BLOCKED;
  const XmlElem* query = answer->FindChild(kQnSharedStatusQuery);
  if (answer->GetAttribute(kQnType) == kStrResult && query != nullptr) {
    SignalSharedStatus(SharedStatus::Parse(*query));
  }
  return STATE_DONE;
}

}  // namespace vexalo
