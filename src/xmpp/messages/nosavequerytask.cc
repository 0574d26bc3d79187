#include "xmpp/messages/nosavequerytask.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

NoSaveQueryTask::NoSaveQueryTask(StepTaskParent* parent) : StanzaTask(parent, kLevelFirst) {}

bool NoSaveQueryTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchResponseIq(stanza, kEmptyAddress, task_id())) return false;
  QueueStanza(stanza);
  return true;
}

int NoSaveQueryTask::ProcessStart() {
  std::unique_ptr<XmlElem> iq = MakeIq(kStrGet, BoundAddress().WithoutResource(), task_id());
  iq->AppendChild(std::make_unique<XmlElem>(kQnNoSaveQuery));
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int NoSaveQueryTask::ProcessResponse() {
  const XmlElem* answer = NextStanza();
  if (answer == nullptr) return STATE_BLOCKED;
  const XmlElem* query = answer->FindChild(kQnNoSaveQuery);
  if (answer->GetAttribute(kQnType) != kStrResult || query == nullptr) return STATE_DONE;
  for (const XmlElem* item = query->FindChild(kQnNoSaveItem); item != nullptr;
       item = item->FindNextSibling(kQnNoSaveItem)) {
    NoSaveEntry entry;
    entry.contact = XmppAddress(item->GetAttribute(kQnJid));
    // An item naming nobody we could talk to is of no use to anyone.
    if (!entry.contact.IsValid()) continue;
    entry.enabled = item->GetAttribute(kQnValue) == kNoSaveEnabled;
    SignalNoSave(entry);
  }
  return STATE_DONE;
}

}  // namespace vexalo
