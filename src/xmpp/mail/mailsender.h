#pragma once

#include <string>

namespace vexalo {

// A participant of a mail conversation.
struct MailSender {
  std::string name;     // may be empty
  std::string address;  // always present
  bool unread = false;
  bool originator = false;

  bool operator==(const MailSender&) const = default;
};

}  // namespace vexalo
