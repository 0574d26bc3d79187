#pragma once

#include <cstdint>
#include <string>

#include "base/runtime/signal.h"
#include "xmpp/mail/mailbox.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// Asks our server once for the unread conversations newer than a time and a thread id, and
// gives up after kTimeout without an answer.
class MailQueryTask : public StanzaTask {
 public:
  // 30 seconds, in the runner's 100-ns units.
  static constexpr int64_t kTimeout = 300'000'000;

  explicit MailQueryTask(StepTaskParent* parent);
  ~MailQueryTask() override;

  // Before Start. 0 leaves the attribute out.
  void SetNewerThanTime(int64_t time) { newer_than_time_ = time; }
  void SetNewerThanTid(int64_t tid) { newer_than_tid_ = tid; }
  void SetQuery(const std::string& query) { query_ = query; }
  void SetTimeout(int64_t timeout) { timeout_ = timeout; }

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;
  void Poll() override;
  void Stop() override;

  // (the mailbox, or null for an error answer or one without a usable mailbox; timed out).
  Signal<const Mailbox*, bool> SignalMailbox;
  // Once, when the task finishes however it ends (or dies unstarted): no signal follows.
  Signal<> SignalFinished;

 private:
  void NotifyFinished();

  int64_t newer_than_time_ = 0;
  int64_t newer_than_tid_ = 0;
  std::string query_;
  int64_t timeout_ = kTimeout;
  bool timed_out_ = false;
  bool finished_ = false;
};

}  // namespace vexalo
