#include "xmpp/roster/rosterquerytask.h"

#include <memory>

#include "xmpp/stream/constants.h"
#include "xmpp/roster/rostertask.h"

namespace vexalo {

RosterQueryTask::RosterQueryTask(RosterTask* parent)
    : StanzaTask(parent, kLevelFirst), roster_(parent) {}

std::unique_ptr<XmlElem> RosterQueryTask::MakeQuery() {
  auto query = std::make_unique<XmlElem>(kQnRosterQuery, true);
  query->AppendAttribute(kQnXmlnsGr, kNsOmbrixRoster);
  query->AppendAttribute(kQnGrExt, "2");
  query->AppendAttribute(kQnGrInclude, "all");
  return query;
}

bool RosterQueryTask::HandleStanza(const XmlElem& stanza) {
  if (answered_ || !MatchResponseIq(stanza, kEmptyAddress, task_id())) return false;
  const std::string& type = stanza.GetAttribute(kQnType);
  if (type == kStrResult) {
    roster_->TakeResult(stanza);
  } else if (type != kStrError) {
    return false;
  }
  // An error answer ends the request too, rather than leaving it waiting for the life of the
  // connection.
  answered_ = true;
  Wake();
  return true;
}

int RosterQueryTask::ProcessStart() {
  std::unique_ptr<XmlElem> iq = MakeIq(kStrGet, kEmptyAddress, task_id());
  iq->AppendChild(MakeQuery());
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int RosterQueryTask::ProcessResponse() { return answered_ ? STATE_DONE : STATE_BLOCKED; }

}  // namespace vexalo
