#include "xmpp/roster/rostersettask.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

RosterSetTask::RosterSetTask(StepTaskParent* parent)
    : RequestTask(parent, kStrSet), query_(std::make_unique<XmlElem>(kQnRosterQuery, true)) {
  query_->AppendAttribute(kQnXmlnsGr, kNsOmbrixRoster);
  query_->AppendAttribute(kQnGrExt, "true");
}

EngineResult RosterSetTask::AddItem(const RosterItem& item) {
  if (sent() || done()) return EngineResult::kBadState;
  if (!item.address.IsValid()) return EngineResult::kBadArgument;
  XmlElem* elem = query_->AppendChild(std::make_unique<XmlElem>(kQnRosterItem));
  elem->AppendAttribute(kQnJid, item.address.ToString());
  elem->AppendAttribute(kQnName, item.name);
  for (const std::string& group : item.groups) {
    elem->AppendChild(std::make_unique<XmlElem>(kQnRosterGroup))->AppendText(group);
  }
  switch (item.list_mode) {
    case RosterListMode::kNormal:
      break;
    case RosterListMode::kHidden:
      elem->AppendAttribute(kQnGrT, "H");
      break;
    case RosterListMode::kBlocked:
      elem->AppendAttribute(kQnGrT, "B");
      break;
  }
  return EngineResult::kOk;
}

EngineResult RosterSetTask::RemoveItem(const XmppAddress& address) {
  if (sent() || done()) return EngineResult::kBadState;
  if (!address.IsValid()) return EngineResult::kBadArgument;
  XmlElem* elem = query_->AppendChild(std::make_unique<XmlElem>(kQnRosterItem));
  elem->AppendAttribute(kQnJid, address.ToString());
  elem->AppendAttribute(kQnSubscription, kStrRemove);
  return EngineResult::kOk;
}

void RosterSetTask::SendAfterAnswer(const XmlElem& stanza) {
  follow_ups_.push_back(std::make_unique<XmlElem>(stanza));
}

std::unique_ptr<XmlElem> RosterSetTask::MakePayload() { return std::make_unique<XmlElem>(*query_); }

void RosterSetTask::ReadAnswer(const XmlElem& /*answer*/) {
  while (!follow_ups_.empty()) {
    std::unique_ptr<XmlElem> stanza = std::move(follow_ups_.front());
    follow_ups_.pop_front();
    // Only a connection that went fails a send, and it ends the task anyway.
    if (SendStanza(*stanza) != EngineResult::kOk) return;
  }
}

}  // namespace vexalo
