#include "xmpp/server/relayinforequesttask.h"

#include "xmpp/stream/constants.h"
#include "xmpp/server/relayinfotask.h"

namespace vexalo {

RelayInfoRequestTask::RelayInfoRequestTask(RelayInfoTask* parent)
    : RequestTask(parent, kStrGet), owner_(parent) {}

std::unique_ptr<XmlElem> RelayInfoRequestTask::MakePayload() {
  return std::make_unique<XmlElem>(kQnRelayInfoQuery, true);
}

void RelayInfoRequestTask::ReadAnswer(const XmlElem& answer) { owner_->OnAnswer(answer); }

}  // namespace vexalo
