#include "xmpp/messages/nosavequerytask.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

NoSaveQueryTask::NoSaveQueryTask(StepTaskParent* parent) : RequestTask(parent, kStrGet) {}

std::unique_ptr<XmlElem> NoSaveQueryTask::MakePayload() {
  return std::make_unique<XmlElem>(kQnNoSaveQuery);
}

void NoSaveQueryTask::ReadAnswer(const XmlElem& answer) {
  const XmlElem* query = answer.FindChild(kQnNoSaveQuery);
  if (answer.GetAttribute(kQnType) != kStrResult || query == nullptr) return;
  for (const XmlElem* item = query->FindChild(kQnNoSaveItem); item != nullptr;
       item = item->FindNextSibling(kQnNoSaveItem)) {
    NoSaveEntry entry;
    entry.contact = XmppAddress(item->GetAttribute(kQnJid));
    // An item naming nobody we could talk to is of no use to anyone.
    if (!entry.contact.IsValid()) continue;
    entry.enabled = item->GetAttribute(kQnValue) == kNoSaveEnabled;
    SignalNoSave(entry);
  }
}

}  // namespace vexalo
