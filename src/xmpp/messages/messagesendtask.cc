#include "xmpp/messages/messagesendtask.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

MessageSendTask::MessageSendTask(StepTaskParent* parent) : StanzaTask(parent, kLevelNone) {}

int MessageSendTask::ProcessStart() {
  ChatMessage outgoing = message_;
  outgoing.id = task_id();
  outgoing.from = kEmptyAddress;
  std::unique_ptr<XmlElem> stanza = outgoing.Build();
  if (SendStanza(*stanza) != EngineResult::kOk) return STATE_ERROR;
  return STATE_DONE;
}

}  // namespace vexalo
