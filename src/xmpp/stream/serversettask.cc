#include "xmpp/stream/serversettask.h"

#include <memory>
#include <string>

#include "xmpp/stream/constants.h"

namespace vexalo {

ServerSetTask::ServerSetTask(StepTaskParent* parent) : StanzaTask(parent, kLevelFirst) {}

bool ServerSetTask::HandleStanza(const XmlElem& stanza) {
  if (!sent_ || answered_ || !MatchResponseIq(stanza, kEmptyAddress, task_id())) return false;
  const std::string& type = stanza.GetAttribute(kQnType);
  if (type != kStrResult && type != kStrError) return false;
  answered_ = true;
  Wake();
  return true;
}

int ServerSetTask::SendSet(const XmlElem& payload) {
  std::unique_ptr<XmlElem> iq = MakeIq(kStrSet, kEmptyAddress, task_id());
  iq->AppendChild(std::make_unique<XmlElem>(payload));
  sent_ = true;
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

}  // namespace vexalo
