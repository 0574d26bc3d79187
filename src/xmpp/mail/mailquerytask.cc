#include "xmpp/mail/mailquerytask.h"

#include <optional>
#include <string>

#include "xmpp/stream/constants.h"

namespace vexalo {

MailQueryTask::MailQueryTask(StepTaskParent* parent) : RequestTask(parent, kStrGet) {
  SetTimeout(kTimeout);
}

MailQueryTask::~MailQueryTask() { NotifyFinished(); }

void MailQueryTask::Stop() {
  NotifyFinished();
  RequestTask::Stop();
}

void MailQueryTask::NotifyFinished() {
  if (finished_) return;
  finished_ = true;
  SignalFinished();
}

std::unique_ptr<XmlElem> MailQueryTask::MakePayload() {
  auto query = std::make_unique<XmlElem>(kQnMailQuery, true);
  if (newer_than_time_ != 0) {
    query->AppendAttribute(kQnNewerThanTime, std::to_string(newer_than_time_));
  }
  if (newer_than_tid_ != 0) {
    query->AppendAttribute(kQnNewerThanTid, std::to_string(newer_than_tid_));
  }
  query->AppendAttribute(kQnQ, query_);
  return query;
}

void MailQueryTask::ReadAnswer(const XmlElem& answer) {
  std::optional<Mailbox> mailbox;
  if (answer.GetAttribute(kQnType) == kStrResult) {
    if (const XmlElem* element = answer.FindChild(kQnMailBox)) mailbox = Mailbox::Parse(*element);
  }
  SignalMailbox(mailbox ? &*mailbox : nullptr, false);
}

}  // namespace vexalo
