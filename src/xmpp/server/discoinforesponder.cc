#include "xmpp/server/discoinforesponder.h"

#include <memory>

#include "base/runtime/logging.h"
#include "xmpp/stream/constants.h"

namespace vexalo {
namespace {

// The node of a caps query we answer, or null. The key after '#' must not be empty.
const std::string* CapsNodeOf(const XmlElem& stanza) {
  if (stanza.Name() != kQnIq || stanza.GetAttribute(kQnType) != kStrGet) return nullptr;
  const XmlElem* query = stanza.FirstChildElement();
  if (query == nullptr || query->Name() != kQnDiscoInfoQuery || !query->HasAttribute(kQnNode)) {
    return nullptr;
  }
  const std::string& node = query->GetAttribute(kQnNode);
  if (node.size() <= kCapsNode.size() + 1 || !node.starts_with(kCapsNode) ||
      node[kCapsNode.size()] != '#') {
    return nullptr;
  }
  return &node;
}

}  // namespace

DiscoInfoResponder::DiscoInfoResponder(StepTaskParent* parent) : StanzaTask(parent, kLevelThird) {}

void DiscoInfoResponder::AddBundle(const FeatureBundle& bundle) {
  auto existing = bundles_.find(bundle.key());
  if (existing != bundles_.end()) bundles_.erase(existing);
  bundles_.emplace(bundle.key(), bundle);
}

void DiscoInfoResponder::AddClientBundles(std::string_view version_key) {
  AddBundle(version_key, *FeatureBundle::MakeClientQuery());
  AddBundle(kVoiceCapsExt, *FeatureBundle::MakeFeatureQuery(kFeatureVoice));
}

bool DiscoInfoResponder::HandleStanza(const XmlElem& stanza) {
  if (CapsNodeOf(stanza) == nullptr) return false;
  QueueStanza(stanza);
  return true;
}

int DiscoInfoResponder::ProcessStart() {
  while (const XmlElem* request = NextStanza()) Answer(*request);
  return STATE_BLOCKED;
}

void DiscoInfoResponder::Answer(const XmlElem& request) {
  const XmppAddress sender(request.GetAttribute(kQnFrom));
  if (!sender.IsValid()) return;
  const std::string* caps_node = CapsNodeOf(request);
  if (caps_node == nullptr) return;
  const std::string& node = *caps_node;
  auto bundle = bundles_.find(std::string_view(node).substr(kCapsNode.size() + 1));
  if (bundle == bundles_.end()) {
    LOG(kVerbose) << "DiscoInfoResponder::Answer - no bundle for " << node;
    SendStanzaError(request, StanzaErrorCondition::kItemNotFound, kNotFoundText);
    return;
  }
  std::unique_ptr<XmlElem> reply = MakeIq(kStrResult, sender, request.GetAttribute(kQnId));
  XmlElem* query = reply->AppendChild(std::make_unique<XmlElem>(bundle->second.query()));
  // Disco answers name the node they describe; caps verifiers compare it with the query.
  if (!query->HasAttribute(kQnNode)) query->SetAttribute(kQnNode, node);
  SendStanza(*reply);
}

}  // namespace vexalo
