#include "xmpp/vcard/vcardsettask.h"

#include <string>

#include "xmpp/vcard/avatarhash.h"
#include "xmpp/stream/constants.h"

namespace vexalo {

VCardSetTask::VCardSetTask(StepTaskParent* parent) : StanzaTask(parent, kLevelFirst) {}

bool VCardSetTask::SetPhoto(std::string_view base64) {
  std::string bytes;
  if (!VCard::DecodeBase64(base64, kMaxAvatarBytes, &bytes)) return false;
  card_ = VCard::WithPhotoBase64(base64);
  return true;
}

bool VCardSetTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchResponseIq(stanza, kEmptyAddress, task_id())) return false;
  QueueStanza(stanza);
  return true;
}

int VCardSetTask::ProcessStart() {
  std::unique_ptr<XmlElem> iq = MakeIq(kStrSet, kEmptyAddress, task_id());
  iq->AppendChild(card_.BuildElement());
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int VCardSetTask::ProcessResponse() {
  const XmlElem* answer = NextStanza();
  if (answer == nullptr) return STATE_BLOCKED;
  SignalVCardSet(answer->GetAttribute(kQnType) != kStrError, card_);
  return STATE_DONE;
}

}  // namespace vexalo
