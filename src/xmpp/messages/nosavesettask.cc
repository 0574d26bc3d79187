#include "xmpp/messages/nosavesettask.h"

#include "xmpp/stream/constants.h"
#include "xmpp/messages/nosaveentry.h"

namespace vexalo {

NoSaveSetTask::NoSaveSetTask(StepTaskParent* parent)
    // No default-namespace declaration: the query is printed with a prefix.
    : StanzaTask(parent, kLevelFirst), query_(std::make_unique<XmlElem>(kQnNoSaveQuery)) {}

EngineResult NoSaveSetTask::AddItem(const XmppAddress& contact, bool enabled) {
  if (query_ == nullptr || state() != STATE_INIT) return EngineResult::kBadState;
  if (!contact.IsValid()) return EngineResult::kBadArgument;
  XmlElem* item = query_->AppendChild(std::make_unique<XmlElem>(kQnNoSaveItem));
  item->AppendAttribute(kQnJid, contact.WithoutResource().ToString());
  item->AppendAttribute(kQnSource, BoundAddress().ToString());
  item->AppendAttribute(kQnValue, enabled ? kNoSaveEnabled : kNoSaveDisabled);
  return EngineResult::kOk;
}

bool NoSaveSetTask::HandleStanza(const XmlElem& stanza) {
  // Sent to our own bare address: the server answers for it.
  if (!MatchResponseIq(stanza, kEmptyAddress, task_id())) return false;
  QueueStanza(stanza);
  return true;
}

int NoSaveSetTask::ProcessStart() {
  std::unique_ptr<XmlElem> iq = MakeIq(kStrSet, BoundAddress().WithoutResource(), task_id());
  iq->AppendChild(std::move(query_));
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int NoSaveSetTask::ProcessResponse() {
  const XmlElem* answer = NextStanza();
  if (answer == nullptr) return STATE_BLOCKED;
  SignalDone(answer->GetAttribute(kQnType) == kStrResult);
  return STATE_DONE;
}

}  // namespace vexalo
