#include "xmpp/server/serverinfoquerytask.h"

#include <memory>

#include "xmpp/stream/constants.h"

namespace vexalo {

ServerInfoQueryTask::ServerInfoQueryTask(StepTaskParent* parent) : StanzaTask(parent, kLevelFirst) {}

bool ServerInfoQueryTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchResponseIq(stanza, XmppAddress("", BoundAddress().DomainPart(), ""), task_id())) {
    return false;
  }
  QueueStanza(stanza);
  return true;
}

int ServerInfoQueryTask::ProcessStart() {
  std::unique_ptr<XmlElem> iq =
      MakeIq(kStrGet, XmppAddress("", BoundAddress().DomainPart(), ""), task_id());
  iq->AppendChild(std::make_unique<XmlElem>(kQnDiscoInfoQuery, true));
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int ServerInfoQueryTask::ProcessResponse() {
  const XmlElem* answer = NextStanza();
  if (answer == nullptr) return STATE_BLOCKED;
  std::set<std::string> features;
  const XmlElem* query = answer->FindChild(kQnDiscoInfoQuery);
  if (answer->GetAttribute(kQnType) == kStrResult && query != nullptr) {
    for (const XmlElem* feature = query->FindChild(kQnDiscoFeature);
         feature != nullptr && features.size() < kMaxFeatures;
         feature = feature->FindNextSibling(kQnDiscoFeature)) {
      const std::string& var = feature->GetAttribute(kQnVar);
      if (!var.empty() && var.size() <= kMaxFeatureLength) features.insert(var);
    }
  }
  SignalFeatures(features);
  return STATE_DONE;
}

}  // namespace vexalo
