#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/runtime/signal.h"
#include "xmpp/mail/mailbox.h"
#include "xmpp/stream/requesttask.h"

namespace vexalo {

// Asks our server once for the unread conversations newer than a time and a thread id, and
// gives up after kTimeout without an answer.
class MailQueryTask : public RequestTask {
 public:
  // 30 seconds, in the runner's 100-ns units.
  static constexpr int64_t kTimeout = 300'000'000;

  explicit MailQueryTask(StepTaskParent* parent);
  ~MailQueryTask() override;

  // Before Start. 0 leaves the attribute out.
  void SetNewerThanTime(int64_t time) { newer_than_time_ = time; }
  void SetNewerThanTid(int64_t tid) { newer_than_tid_ = tid; }
  void SetQuery(const std::string& query) { query_ = query; }

  void Stop() override;

  // (the mailbox, or null for an error answer or one without a usable mailbox; timed out).
  Signal<const Mailbox*, bool> SignalMailbox;
  // Once, when the task finishes however it ends (or dies unstarted): no signal follows.
  Signal<> SignalFinished;

 protected:
  std::unique_ptr<XmlElem> MakePayload() override;
  void ReadAnswer(const XmlElem& answer) override;
  void OnTimeout() override { SignalMailbox(nullptr, true); }

 private:
  void NotifyFinished();

  int64_t newer_than_time_ = 0;
  int64_t newer_than_tid_ = 0;
  std::string query_;
  bool finished_ = false;
};

}  // namespace vexalo
