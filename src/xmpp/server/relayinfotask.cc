#include "xmpp/server/relayinfotask.h"

#include "base/runtime/logging.h"
#include "xmpp/stream/constants.h"
#include "xmpp/server/relayinforequesttask.h"
#include "xmpp/stream/serverpush.h"

namespace vexalo {

RelayInfoTask::RelayInfoTask(StepTaskParent* parent) : StanzaTask(parent, kLevelThird) {}

void RelayInfoTask::Request() {
  if (done() || connection() == nullptr) return;
  auto* request = new RelayInfoRequestTask(this);
  request->Start();
}

bool RelayInfoTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchRequestIq(stanza, kStrSet, kQnRelayInfoQuery)) return false;
  if (!ServerPush::IsFromOwnServerOrAccount(stanza, BoundAddress())) {
    LOG(kWarning) << "RelayInfoTask::HandleStanza - push from " << stanza.GetAttribute(kQnFrom)
                  << " refused";
    return false;
  }
  QueueStanza(stanza);
  return true;
}

int RelayInfoTask::ProcessStart() {
  while (const XmlElem* push = NextStanza()) Report(*push->FindChild(kQnRelayInfoQuery));
  return STATE_BLOCKED;
}

void RelayInfoTask::OnAnswer(const XmlElem& answer) {
  if (answer.GetAttribute(kQnType) != kStrResult) {
    LOG(kInfo) << "RelayInfoTask::OnAnswer - the server has no relay information";
    return;
  }
  if (const XmlElem* query = answer.FindChild(kQnRelayInfoQuery)) Report(*query);
}

void RelayInfoTask::Report(const XmlElem& query) {
  const RelayInfo info = RelayInfo::Parse(query);
  SignalRelayInfo(info.token, info.relay_hosts, info.stun_servers);
}

}  // namespace vexalo
