#include "xmpp/server/updatecommandtask.h"

#include <memory>

#include "xmpp/stream/constants.h"
#include "xmpp/stream/serverpush.h"

namespace vexalo {

UpdateCommandTask::UpdateCommandTask(StepTaskParent* parent) : StanzaTask(parent, kLevelThird) {}

bool UpdateCommandTask::HandleStanza(const XmlElem& stanza) {
  const bool iq = MatchRequestIq(stanza, kStrSet, kQnCheckUpdate);
  const bool message = stanza.Name() == kQnMessage && stanza.FindChild(kQnCheckUpdate) != nullptr;
  if (!iq && !message) return false;
  if (!ServerPush::IsFromOwnServerOrAccount(stanza, BoundAddress())) return false;
  QueueStanza(stanza);
  return true;
}

int UpdateCommandTask::ProcessStart() {
  bool check = false;
  while (const XmlElem* command = NextStanza()) {
    if (command->Name() == kQnIq) SendStanza(*MakeIqResult(*command));
    check = true;
  }
  // Several requests queued at once start one check.
  if (check) SignalCheckUpdate();
  return STATE_BLOCKED;
}

}  // namespace vexalo
