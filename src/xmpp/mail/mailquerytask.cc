#include "xmpp/mail/mailquerytask.h"

#include <optional>

#include "xmpp/stream/constants.h"

namespace vexalo {

MailQueryTask::MailQueryTask(StepTaskParent* parent) : StanzaTask(parent, kLevelFirst) {}

MailQueryTask::~MailQueryTask() { NotifyFinished(); }

void MailQueryTask::Stop() {
  NotifyFinished();
  StanzaTask::Stop();
}

void MailQueryTask::NotifyFinished() {
  if (finished_) return;
  finished_ = true;
  SignalFinished();
}

bool MailQueryTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchResponseIq(stanza, kEmptyAddress, task_id())) return false;
  QueueStanza(stanza);
  return true;
}

int MailQueryTask::ProcessStart() {
  std::unique_ptr<XmlElem> iq = MakeIq(kStrGet, kEmptyAddress, task_id());
  XmlElem* query = iq->AppendChild(std::make_unique<XmlElem>(kQnMailQuery, true));
  if (newer_than_time_ != 0) {
    query->AppendAttribute(kQnNewerThanTime, std::to_string(newer_than_time_));
  }
  if (newer_than_tid_ != 0)
    query->AppendAttribute(kQnNewerThanTid, std::to_string(newer_than_tid_));
  query->AppendAttribute(kQnQ, query_);
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int MailQueryTask::ProcessResponse() {
  const XmlElem* answer = NextStanza();
  if (answer == nullptr) {
    if (!timed_out_) return STATE_BLOCKED;
    SignalMailbox(nullptr, true);
    return STATE_DONE;
  }
  std::optional<Mailbox> mailbox;
  if (answer->GetAttribute(kQnType) == kStrResult) {
    if (const XmlElem* element = answer->FindChild(kQnMailBox)) mailbox = Mailbox::Parse(*element);
  }
  SignalMailbox(mailbox ? &*mailbox : nullptr, false);
  return STATE_DONE;
}

void MailQueryTask::Poll() {
  if (timed_out_ || state() != STATE_RESPONSE || ElapsedTime() <= timeout_) return;
  timed_out_ = true;
  Wake();
}

}  // namespace vexalo
