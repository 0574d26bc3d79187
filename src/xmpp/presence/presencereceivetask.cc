#include "xmpp/presence/presencereceivetask.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

PresenceReceiveTask::PresenceReceiveTask(StepTaskParent* parent)
    : StanzaTask(parent, kLevelThird) {}

bool PresenceReceiveTask::HandleStanza(const XmlElem& stanza) {
  if (stanza.Name() != kQnPresence) return false;
  if (stanza.HasAttribute(kQnType) && stanza.GetAttribute(kQnType) != kStrUnavailable) {
    return false;
  }
  pending_.push_back(PresenceStatus::FromStanza(stanza));
  Wake();
  return true;
}

int PresenceReceiveTask::ProcessStart() {
  while (!pending_.empty()) {
    const PresenceStatus status = std::move(pending_.front());
    pending_.pop_front();
    SignalPresence(status);
    if (done() || aborted()) return STATE_DONE;
  }
  return STATE_BLOCKED;
}

void PresenceReceiveTask::Stop() {
  pending_.clear();
  StanzaTask::Stop();
}

}  // namespace vexalo
