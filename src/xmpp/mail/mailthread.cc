#include "xmpp/mail/mailthread.h"

#include <limits>

#include "xmpp/stream/constants.h"
#include "xmpp/mail/mailnumber.h"

namespace vexalo {
namespace {

// "originator" and "unread": an integer, non-zero meaning true; absent or unreadable false.
bool FlagAttribute(const XmlElem& element, const XmlName& name) {
  int64_t value = 0;
  return ParseMailNumber(element.GetAttribute(name), std::numeric_limits<int64_t>::min(),
                         std::numeric_limits<int64_t>::max(), &value) &&
         value != 0;
}

}  // namespace

std::optional<MailThread> MailThread::Parse(const XmlElem& element) {
  if (element.Name() != kQnMailThreadInfo) return std::nullopt;
  MailThread thread;
  int64_t messages = 0;
  int64_t participation = 0;
  if (!ParseMailNumber(element.GetAttribute(kQnTid), std::numeric_limits<int64_t>::min(),
                       std::numeric_limits<int64_t>::max(), &thread.tid) ||
      !ParseMailNumber(element.GetAttribute(kQnDate), 0, kMaxMailTime, &thread.date) ||
      !ParseMailNumber(element.GetAttribute(kQnMessages), 0, kMaxMailCount, &messages) ||
      !ParseMailNumber(element.GetAttribute(kQnParticipation), 0, kMaxMailCount, &participation)) {
    return std::nullopt;
  }
  thread.messages = static_cast<int32_t>(messages);
  thread.participation = static_cast<int32_t>(participation);

  const XmlElem* senders = element.FindChild(kQnMailSenders);
  const XmlElem* labels = element.FindChild(kQnMailLabels);
  const XmlElem* subject = element.FindChild(kQnMailSubject);
  const XmlElem* snippet = element.FindChild(kQnMailSnippet);
  if (senders == nullptr || labels == nullptr || subject == nullptr || snippet == nullptr) {
    return std::nullopt;
  }
  for (const XmlElem* sender = senders->FindChild(kQnMailSender);
       sender != nullptr && thread.senders.size() < kMaxSenders;
       sender = sender->FindNextSibling(kQnMailSender)) {
    if (!sender->HasAttribute(kQnAddress)) continue;
    MailSender entry;
    entry.address = sender->GetAttribute(kQnAddress);
    entry.name = sender->GetAttribute(kQnName);
    entry.originator = FlagAttribute(*sender, kQnOriginator);
    entry.unread = FlagAttribute(*sender, kQnUnread);
    thread.senders.push_back(std::move(entry));
  }
  thread.labels = ParseLabels(labels->OnlyText());
  thread.subject = subject->OnlyText();
  thread.snippet = snippet->OnlyText();
  return thread;
}

std::set<std::string> MailThread::ParseLabels(std::string_view text) {
  std::set<std::string> labels;
  std::string piece;
  auto finish_piece = [&] {
    if (!piece.empty() && labels.size() < kMaxLabels) labels.insert(piece);
    piece.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      // A trailing lone backslash ends the text.
      if (i + 1 == text.size()) break;
      piece.push_back(text[++i]);
    } else if (c == '|') {
      finish_piece();
    } else {
      piece.push_back(c);
    }
  }
  finish_piece();
  return labels;
}

}  // namespace vexalo
