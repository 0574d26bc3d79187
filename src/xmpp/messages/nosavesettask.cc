#include "xmpp/messages/nosavesettask.h"

#include "xmpp/stream/constants.h"
#include "xmpp/messages/nosaveentry.h"

namespace vexalo {

NoSaveSetTask::NoSaveSetTask(StepTaskParent* parent)
    // No default-namespace declaration: the query is printed with a prefix.
    : RequestTask(parent, kStrSet), query_(std::make_unique<XmlElem>(kQnNoSaveQuery)) {}

EngineResult NoSaveSetTask::AddItem(const XmppAddress& contact, bool enabled) {
  if (query_ == nullptr || state() != STATE_INIT) return EngineResult::kBadState;
  if (!contact.IsValid()) return EngineResult::kBadArgument;
  XmlElem* item = query_->AppendChild(std::make_unique<XmlElem>(kQnNoSaveItem));
  item->AppendAttribute(kQnJid, contact.WithoutResource().ToString());
  item->AppendAttribute(kQnSource, BoundAddress().ToString());
  item->AppendAttribute(kQnValue, enabled ? kNoSaveEnabled : kNoSaveDisabled);
  return EngineResult::kOk;
}

void NoSaveSetTask::ReadAnswer(const XmlElem& answer) {
  SignalDone(answer.GetAttribute(kQnType) == kStrResult);
}

}  // namespace vexalo
