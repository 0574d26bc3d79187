#include "xmpp/server/commandtask.h"

#include <memory>

#include "base/runtime/logging.h"
#include "xmpp/stream/constants.h"

namespace vexalo {

const XmlName CommandTask::kQnStatusAttribute("", "status");

CommandTask::CommandTask(StepTaskParent* parent) : StanzaTask(parent, kLevelThird) {}

bool CommandTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchRequestIq(stanza, kStrSet, kQnCommand)) return false;
  QueueStanza(stanza);
  return true;
}

int CommandTask::ProcessStart() {
  while (const XmlElem* request = NextStanza()) Answer(*request);
  return STATE_BLOCKED;
}

void CommandTask::Answer(const XmlElem& request) {
  const XmppAddress sender(request.GetAttribute(kQnFrom));
  if (!sender.IsValid()) return;
  std::unique_ptr<XmlElem> reply = MakeIq(kStrResult, sender, request.GetAttribute(kQnId));
  const XmlElem* command = request.FindChild(kQnCommand);
  if (command != nullptr && command->GetAttribute(kQnAction) == kStrExecute) {
    if (!sender.SameAccount(BoundAddress())) {
      LOG(kWarning) << "CommandTask::Answer - command from " << sender.ToString() << " refused";
      SendStanzaError(request, StanzaErrorCondition::kForbidden, "");
      return;
    }
    const std::string& node = command->GetAttribute(kQnNode);
    XmlElem* done = reply->AppendChild(std::make_unique<XmlElem>(kQnCommand, true));
    done->AppendAttribute(kQnNode, node);
    done->AppendAttribute(kQnStatusAttribute, kStrCompleted);
    SignalCommand(sender, node, *command, reply.get());
  }
  SendStanza(*reply);
}

}  // namespace vexalo
