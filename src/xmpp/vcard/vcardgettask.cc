#include "xmpp/vcard/vcardgettask.h"

#include "xmpp/vcard/avatarhash.h"
#include "xmpp/stream/constants.h"

namespace vexalo {

VCardGetTask::VCardGetTask(StepTaskParent* parent) : StanzaTask(parent, kLevelFirst) {}

bool VCardGetTask::HandleStanza(const XmlElem& stanza) {
  // Only the address we asked may answer. Our own card comes from our server, which may leave
  // out "from" or give our bare address or the domain.
  const bool own = target_ == kEmptyAddress || target_ == BoundAddress().WithoutResource();
  if (!MatchResponseIq(stanza, target_, task_id()) &&
      !(own && MatchResponseIq(stanza, kEmptyAddress, task_id()))) {
    return false;
  }
  QueueStanza(stanza);
  return true;
}

int VCardGetTask::ProcessStart() {
  std::unique_ptr<XmlElem> iq = MakeIq(kStrGet, target_, task_id());
  XmlElem* vcard = iq->AppendChild(std::make_unique<XmlElem>(kQnVcard, true));
  const std::string hash = NormalizeAvatarHash(known_hash_);
  if (!hash.empty()) vcard->AppendAttribute(kQnAvatarHash, hash);
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int VCardGetTask::ProcessResponse() {
  const XmlElem* answer = NextStanza();
  if (answer == nullptr) return STATE_BLOCKED;
  if (answer->GetAttribute(kQnType) != kStrResult) return STATE_DONE;
  const XmlElem* vcard = answer->FindChild(kQnVcard);
  if (vcard == nullptr) return STATE_DONE;
  SignalVCard(target_, VCard(*vcard));
  return STATE_DONE;
}

}  // namespace vexalo
