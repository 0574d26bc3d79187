#include "xmpp/presence/presenceprobetask.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

PresenceProbeTask::PresenceProbeTask(StepTaskParent* parent, const XmppAddress& to)
    : StanzaTask(parent, kLevelNone), to_(to) {}

int PresenceProbeTask::ProcessStart() {
  if (!to_.IsValid()) return STATE_ERROR;
  XmlElem probe(kQnPresence);
  probe.AppendAttribute(kQnType, kStrProbe);
  probe.AppendAttribute(kQnTo, to_.ToString());
  return SendStanza(probe) == EngineResult::kOk ? STATE_DONE : STATE_ERROR;
}

}  // namespace vexalo
