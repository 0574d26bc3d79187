#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "xml/xmlelem.h"
#include "xmpp/mail/mailthread.h"

namespace vexalo {

// The answer to a mail query: the unread conversations newer than what was asked for.
struct Mailbox {
  // Conversations beyond this many in one answer are dropped.
  static constexpr size_t kMaxThreads = 1000;

  int32_t total_matched = 0;
  bool total_estimate = false;
  int32_t first_index = 0;
  int64_t result_time = 0;  // milliseconds since 1970; 0 when absent or out of range
  std::vector<MailThread> threads;
  // The largest tid among the threads; 0 without threads.
  int64_t max_tid = 0;

  // None unless `element` is a mailbox of the mail namespace with a usable "total-matched".
  // Conversations lacking a required part are skipped.
  static std::optional<Mailbox> Parse(const XmlElem& element);
};

}  // namespace vexalo
