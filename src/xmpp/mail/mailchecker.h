#pragma once

#include <cstdint>

#include "base/runtime/signal.h"
#include "xmpp/mail/mailbox.h"

namespace vexalo {

class MailQueryTask;
class StepTaskParent;

// Keeps the newest mail time and thread id seen, so that each check asks only for what is
// new, and runs one query at a time. While suspended, a check is only remembered.
class MailChecker : public SlotHost {
 public:
  // The queries run as children of `parent`.
  explicit MailChecker(StepTaskParent* parent);
  ~MailChecker() override;

  // Aborts the query in flight, if any, and asks again.
  void CheckMail();
  // Forgets what was seen, then checks: the whole unread set comes back.
  void ResetAndCheck();
  void SetSuspended(bool suspended);

  // The per-account state the application keeps between sessions.
  int64_t newer_than_time() const { return newer_than_time_; }
  int64_t newer_than_tid() const { return newer_than_tid_; }
  void SetNewerThan(int64_t time, int64_t tid) {
    newer_than_time_ = time;
    newer_than_tid_ = tid;
  }
  bool suspended() const { return suspended_; }
  bool query_in_flight() const { return query_ != nullptr; }
  // For tests: the queries' time-out in the runner's units.
  void SetQueryTimeout(int64_t timeout) { query_timeout_ = timeout; }

  // (mailbox or null, timed out), passed on from each query.
  Signal<const Mailbox*, bool> SignalMailbox;

 private:
  void OnMailbox(const Mailbox* mailbox, bool timed_out);
  void OnQueryGone();
  void AbortQuery();

  StepTaskParent* parent_;
  MailQueryTask* query_ = nullptr;
  int64_t newer_than_time_ = 0;
  int64_t newer_than_tid_ = 0;
  int64_t query_timeout_;
  bool suspended_ = false;
  bool check_deferred_ = false;
};

}  // namespace vexalo
