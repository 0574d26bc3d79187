#include "xmpp/mail/mailchecker.h"

#include <algorithm>

#include "xmpp/stream/constants.h"
#include "xmpp/mail/mailquerytask.h"

namespace vexalo {

MailChecker::MailChecker(StepTaskParent* parent)
    : parent_(parent), query_timeout_(MailQueryTask::kTimeout) {}

MailChecker::~MailChecker() { AbortQuery(); }

void MailChecker::CheckMail() {
  if (suspended_) {
    check_deferred_ = true;
    return;
  }
  AbortQuery();
  query_ = new MailQueryTask(parent_);
  query_->SetNewerThanTime(newer_than_time_);
  query_->SetNewerThanTid(newer_than_tid_);
  query_->SetQuery(std::string(kStrMailSearchQuery));
  query_->SetTimeout(query_timeout_);
  query_->SignalMailbox.Connect(this, &MailChecker::OnMailbox);
  query_->SignalFinished.Connect(this, &MailChecker::OnQueryGone);
  query_->Start();
}

void MailChecker::ResetAndCheck() {
  newer_than_time_ = 0;
  newer_than_tid_ = 0;
  CheckMail();
}

void MailChecker::SetSuspended(bool suspended) {
  if (suspended) {
    suspended_ = true;
    check_deferred_ = false;
    AbortQuery();
    return;
  }
  suspended_ = false;
  if (check_deferred_) {
    check_deferred_ = false;
    CheckMail();
  }
}

void MailChecker::AbortQuery() {
  if (query_ == nullptr) return;
  MailQueryTask* query = query_;
  query_ = nullptr;
  query->SignalMailbox.Disconnect(this);
  query->SignalFinished.Disconnect(this);
  // A task that never started is still its creator's; one that did belongs to the runner.
  query->Abort();
}

void MailChecker::OnQueryGone() { query_ = nullptr; }

void MailChecker::OnMailbox(const Mailbox* mailbox, bool timed_out) {
  query_ = nullptr;
  if (mailbox != nullptr) {
    newer_than_time_ = std::max(newer_than_time_, mailbox->result_time);
    newer_than_tid_ = std::max(newer_than_tid_, mailbox->max_tid);
  }
  SignalMailbox(mailbox, timed_out);
}

}  // namespace vexalo
