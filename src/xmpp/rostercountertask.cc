#include "xmpp/rostercountertask.h"

#include <string>

#include "xmpp/constants.h"

namespace vexalo {

RosterCounterTask::RosterCounterTask(StepTaskParent* parent) : StanzaTask(parent, kLevelFirst) {}

EngineResult RosterCounterTask::IncrementMessageCount(const XmppAddress& address, int32_t n) {
  return SetCommand(kQnGrIncrementMc, address, n);
}

EngineResult RosterCounterTask::BoostMessageCount(const XmppAddress& address, int32_t n) {
  return SetCommand(kQnGrBoostMc, address, n);
}

EngineResult RosterCounterTask::SetCommand(const XmlName& name, const XmppAddress& address,
                                           int32_t n) {
  if (command_ != nullptr || sent_ || done()) return EngineResult::kBadState;
  if (!address.IsValid()) return EngineResult::kBadArgument;
  command_ = std::make_unique<XmlElem>(name, true);
  command_->AppendAttribute(kQnJid, address.ToString());
  command_->AppendAttribute(kQnValue, std::to_string(n));
  return EngineResult::kOk;
}

bool RosterCounterTask::HandleStanza(const XmlElem& stanza) {
  if (!sent_ || answered_ || !MatchResponseIq(stanza, kEmptyAddress, task_id())) return false;
  const std::string& type = stanza.GetAttribute(kQnType);
  if (type != kStrResult && type != kStrError) return false;
  answered_ = true;
  Wake();
  return true;
}

int RosterCounterTask::ProcessStart() {
  // Nothing chosen: nothing to do.
  if (command_ == nullptr) return STATE_DONE;
  std::unique_ptr<XmlElem> iq = MakeIq(kStrSet, kEmptyAddress, task_id());
  iq->AppendChild(std::make_unique<XmlElem>(*command_));
  sent_ = true;
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int RosterCounterTask::ProcessResponse() { return answered_ ? STATE_DONE : STATE_BLOCKED; }

}  // namespace vexalo
