#include "xmpp/roster/rostercountertask.h"

#include <string>

#include "xmpp/stream/constants.h"

namespace vexalo {

RosterCounterTask::RosterCounterTask(StepTaskParent* parent) : RequestTask(parent, kStrSet) {}

EngineResult RosterCounterTask::IncrementMessageCount(const XmppAddress& address, int32_t n) {
  return SetCommand(kQnGrIncrementMc, address, n);
}

EngineResult RosterCounterTask::BoostMessageCount(const XmppAddress& address, int32_t n) {
  return SetCommand(kQnGrBoostMc, address, n);
}

EngineResult RosterCounterTask::SetCommand(const XmlName& name, const XmppAddress& address,
                                           int32_t n) {
  if (command_ != nullptr || sent() || done()) return EngineResult::kBadState;
  if (!address.IsValid()) return EngineResult::kBadArgument;
  command_ = std::make_unique<XmlElem>(name, true);
  command_->AppendAttribute(kQnJid, address.ToString());
  command_->AppendAttribute(kQnValue, std::to_string(n));
  return EngineResult::kOk;
}

}  // namespace vexalo
