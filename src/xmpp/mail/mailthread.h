#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xmlelem.h"
#include "xmpp/mail/mailsender.h"

namespace vexalo {

// One unread conversation of the mailbox (a "mail-thread-info").
struct MailThread {
  // Bounds on what one conversation may bring; the rest is dropped.
  static constexpr size_t kMaxSenders = 100;
  static constexpr size_t kMaxLabels = 100;

  int64_t tid = 0;
  int64_t date = 0;  // milliseconds since 1970
  int32_t messages = 0;
  int32_t participation = 0;
  std::vector<MailSender> senders;
  std::set<std::string> labels;
  std::string subject;
  std::string snippet;

  // None when a required part is missing or a number is not a number in its range (dates
  // 0..kMaxMailTime, counts 0..2^31-1).
  static std::optional<MailThread> Parse(const XmlElem& element);
  // Labels are separated by '|'; a backslash takes the next character literally; empty
  // pieces are dropped.
  static std::set<std::string> ParseLabels(std::string_view text);
};

}  // namespace vexalo
