#include "xmpp/server/serverinfoquerytask.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

ServerInfoQueryTask::ServerInfoQueryTask(StepTaskParent* parent) : RequestTask(parent, kStrGet) {}

std::unique_ptr<XmlElem> ServerInfoQueryTask::MakePayload() {
  return std::make_unique<XmlElem>(kQnDiscoInfoQuery, true);
}

XmppAddress ServerInfoQueryTask::Addressee() const {
  return XmppAddress("", BoundAddress().DomainPart(), "");
}

bool ServerInfoQueryTask::FromAddressee(const XmlElem& stanza) const {
  return MatchResponseIq(stanza, Addressee(), task_id());
}

void ServerInfoQueryTask::ReadAnswer(const XmlElem& answer) {
  std::set<std::string> features;
  const XmlElem* query = answer.FindChild(kQnDiscoInfoQuery);
  if (answer.GetAttribute(kQnType) == kStrResult && query != nullptr) {
    for (const XmlElem* feature = query->FindChild(kQnDiscoFeature);
         feature != nullptr && features.size() < kMaxFeatures;
         feature = feature->FindNextSibling(kQnDiscoFeature)) {
      const std::string& var = feature->GetAttribute(kQnVar);
      if (!var.empty() && var.size() <= kMaxFeatureLength) features.insert(var);
    }
  }
  SignalFeatures(features);
}

}  // namespace vexalo
