#include "xmpp/mail/mailbox.h"

#include <algorithm>
#include <limits>

#include "xmpp/stream/constants.h"
#include "xmpp/mail/mailnumber.h"

namespace vexalo {

std::optional<Mailbox> Mailbox::Parse(const XmlElem& element) {
  if (element.Name() != kQnMailBox) return std::nullopt;
  Mailbox mailbox;
  int64_t value = 0;
  if (!ParseMailNumber(element.GetAttribute(kQnTotalMatched), 0, kMaxMailCount, &value)) {
    return std::nullopt;
  }
  mailbox.total_matched = static_cast<int32_t>(value);
  // The optional attributes fall back to their defaults when absent or unreadable.
  if (ParseMailNumber(element.GetAttribute(kQnTotalEstimate), std::numeric_limits<int64_t>::min(),
                      std::numeric_limits<int64_t>::max(), &value)) {
    mailbox.total_estimate = value != 0;
  }
  if (ParseMailNumber(element.GetAttribute(kQnFirstIndex), 0, kMaxMailCount, &value)) {
    mailbox.first_index = static_cast<int32_t>(value);
  }
  if (ParseMailNumber(element.GetAttribute(kQnResultTime), 0, kMaxMailTime, &value)) {
    mailbox.result_time = value;
  }
  bool have_tid = false;
  for (const XmlElem* info = element.FindChild(kQnMailThreadInfo);
       info != nullptr && mailbox.threads.size() < kMaxThreads;
       info = info->FindNextSibling(kQnMailThreadInfo)) {
    std::optional<MailThread> thread = MailThread::Parse(*info);
    if (!thread) continue;
    mailbox.max_tid = have_tid ? std::max(mailbox.max_tid, thread->tid) : thread->tid;
    have_tid = true;
    mailbox.threads.push_back(std::move(*thread));
  }
  return mailbox;
}

}  // namespace vexalo
