#include "xmpp/vcard/vcardgettask.h"

#include "xmpp/vcard/avatarhash.h"
#include "xmpp/stream/constants.h"

namespace vexalo {

VCardGetTask::VCardGetTask(StepTaskParent* parent) : RequestTask(parent, kStrGet) {}

std::unique_ptr<XmlElem> VCardGetTask::MakePayload() {
  auto vcard = std::make_unique<XmlElem>(kQnVcard, true);
  const std::string hash = NormalizeAvatarHash(known_hash_);
  if (!hash.empty()) vcard->AppendAttribute(kQnAvatarHash, hash);
  return vcard;
}

bool VCardGetTask::FromAddressee(const XmlElem& stanza) const {
  // Only the address we asked may answer. Our own card comes from our server, which may leave
  // out "from" or give our bare address or the domain.
  const bool own = target_ == kEmptyAddress || target_ == BoundAddress().WithoutResource();
  return MatchResponseIq(stanza, target_, task_id()) ||
         (own && MatchResponseIq(stanza, kEmptyAddress, task_id()));
}

void VCardGetTask::ReadAnswer(const XmlElem& answer) {
  if (answer.GetAttribute(kQnType) != kStrResult) return;
  const XmlElem* vcard = answer.FindChild(kQnVcard);
  if (vcard == nullptr) return;
  SignalVCard(target_, VCard(*vcard));
}

}  // namespace vexalo
