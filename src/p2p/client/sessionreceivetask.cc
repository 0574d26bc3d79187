#include "p2p/client/sessionreceivetask.h"

namespace vexalo {

SessionReceiveTask::SessionReceiveTask(StepTaskParent* parent, SessionClient* client)
    : StanzaTask(parent, kLevelThird), client_(client) {
  client_->Destroying.Connect(this, [this] { client_ = nullptr; });
}

bool SessionReceiveTask::HandleStanza(const XmlElem& stanza) {
  if (client_ == nullptr || !client_->IsSessionStanza(stanza)) return false;
  QueueStanza(stanza);
  return true;
}

int SessionReceiveTask::ProcessStart() {
  while (const XmlElem* stanza = NextStanza()) {
    if (client_ != nullptr) client_->OnIncomingStanza(*stanza);
  }
  return STATE_BLOCKED;
}

}  // namespace vexalo
