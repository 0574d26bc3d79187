#include "xmpp/stream/requesttask.h"

#include <string>

#include "xmpp/stream/constants.h"

namespace vexalo {

RequestTask::RequestTask(StepTaskParent* parent, std::string_view type)
    : StanzaTask(parent, kLevelFirst), type_(type) {}

bool RequestTask::HandleStanza(const XmlElem& stanza) {
  // The id is ours alone: the answer is taken whenever it comes, even before the runner's
  // first step has sent the request (as a scripted server may do).
  if (answered_ || stanza.Name() != kQnIq || !stanza.HasAttribute(kQnId) ||
      stanza.GetAttribute(kQnId) != task_id()) {
    return false;
  }
  const std::string& type = stanza.GetAttribute(kQnType);
  // Only an answer ends the request; a "get" or "set" carrying our id is someone else's.
  if (type != kStrResult && type != kStrError) return false;
  if (!FromAddressee(stanza)) return false;
  answered_ = true;
  QueueStanza(stanza);
  return true;
}

bool RequestTask::FromAddressee(const XmlElem& stanza) const {
  return MatchResponseIq(stanza, kEmptyAddress, task_id());
}

int RequestTask::ProcessStart() {
  std::unique_ptr<XmlElem> payload = MakePayload();
  if (payload == nullptr) return STATE_DONE;
  std::unique_ptr<XmlElem> iq = MakeIq(type_, Addressee(), task_id());
  iq->AppendChild(std::move(payload));
  sent_ = true;
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int RequestTask::ProcessResponse() {
  if (const XmlElem* answer = NextStanza()) {
    ReadAnswer(*answer);
    return STATE_DONE;
  }
  if (!timed_out_) return STATE_BLOCKED;
  OnTimeout();
  return STATE_DONE;
}

void RequestTask::Poll() {
  if (timeout_ == kNoTimeout || timed_out_ || answered_ || state() != STATE_RESPONSE ||
      ElapsedTime() <= timeout_) {
    return;
  }
  timed_out_ = true;
  Wake();
}

}  // namespace vexalo
