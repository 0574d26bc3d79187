#include "xmpp/presence/sharedstatussettask.h"

#include <memory>

#include "xmpp/stream/constants.h"

namespace vexalo {

SharedStatusSetTask::SharedStatusSetTask(StepTaskParent* parent, const SharedStatus& status)
    : StanzaTask(parent, kLevelFirst), status_(status) {}

bool SharedStatusSetTask::HandleStanza(const XmlElem& stanza) {
  // Our server answers for our bare address: from it, from our domain or without a "from".
  if (answered_ || !to_.IsValid() || !MatchResponseIq(stanza, kEmptyAddress, task_id())) {
    return false;
  }
  const std::string& type = stanza.GetAttribute(kQnType);
  if (type != kStrResult && type != kStrError) return false;
  answered_ = true;
  Wake();
  return true;
}

int SharedStatusSetTask::ProcessStart() {
  to_ = BoundAddress().WithoutResource();
  std::unique_ptr<XmlElem> iq = MakeIq(kStrSet, to_, task_id());
  iq->AppendChild(status_.MakeQuery());
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int SharedStatusSetTask::ProcessResponse() { return answered_ ? STATE_DONE : STATE_BLOCKED; }

}  // namespace vexalo
