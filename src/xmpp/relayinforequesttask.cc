#include "xmpp/relayinforequesttask.h"

#include "xmpp/constants.h"
#include "xmpp/relayinfotask.h"

namespace vexalo {

RelayInfoRequestTask::RelayInfoRequestTask(RelayInfoTask* parent)
    : RequestTask(parent, kStrGet), owner_(parent) {}

std::unique_ptr<XmlElem> RelayInfoRequestTask::MakePayload() {
  return std::make_unique<XmlElem>(kQnRelayInfoQuery, true);
}

void RelayInfoRequestTask::ReadAnswer(const XmlElem& answer) { owner_->OnAnswer(answer); }

}  // namespace vexalo
