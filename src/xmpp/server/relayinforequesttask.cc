#include "xmpp/server/relayinforequesttask.h"

#include <memory>

#include "xmpp/stream/constants.h"
#include "xmpp/server/relayinfotask.h"

namespace vexalo {

RelayInfoRequestTask::RelayInfoRequestTask(RelayInfoTask* parent)
    : StanzaTask(parent, kLevelFirst), owner_(parent) {}

bool RelayInfoRequestTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchResponseIq(stanza, kEmptyAddress, task_id())) return false;
  QueueStanza(stanza);
  return true;
}

int RelayInfoRequestTask::ProcessStart() {
  std::unique_ptr<XmlElem> iq = MakeIq(kStrGet, kEmptyAddress, task_id());
  iq->AppendChild(std::make_unique<XmlElem>(kQnRelayInfoQuery, true));
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int RelayInfoRequestTask::ProcessResponse() {
  const XmlElem* answer = NextStanza();
  if (answer == nullptr) return STATE_BLOCKED;
  owner_->OnAnswer(*answer);
  return STATE_DONE;
}

}  // namespace vexalo
