// Parses arbitrary text as a mail query answer: the XML, the mailbox, its conversations and
// their labels. Nothing may crash, and whatever is accepted keeps within the bounds that the
// parser promises (dates and result time within the year 9999, counts not negative, lists
// capped, the largest thread id really the largest).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "xml/xmlelem.h"
#include "xmpp/stream/constants.h"
#include "xmpp/mail/mailbox.h"
#include "xmpp/mail/mailnumber.h"
#include "xmpp/mail/mailthread.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // The raw bytes as a label list too: the escape handling sees every byte.
  const std::set<std::string> labels = vexalo::MailThread::ParseLabels(text);
  if (labels.size() > vexalo::MailThread::kMaxLabels || labels.contains("")) abort();

  std::unique_ptr<vexalo::XmlElem> element = vexalo::XmlElem::ParseFromString(text);
  if (element == nullptr) return 0;
  // A whole answer, as the query task sees it, or the mailbox alone.
  const vexalo::XmlElem* box = element->Name() == vexalo::kQnMailBox
                                   ? element.get()
                                   : element->FindChild(vexalo::kQnMailBox);
  if (box == nullptr) return 0;
  std::optional<vexalo::Mailbox> mailbox = vexalo::Mailbox::Parse(*box);
  if (!mailbox) return 0;
  if (mailbox->total_matched < 0 || mailbox->first_index < 0 || mailbox->result_time < 0 ||
      mailbox->result_time > vexalo::kMaxMailTime ||
      mailbox->threads.size() > vexalo::Mailbox::kMaxThreads) {
    abort();
  }
  for (const vexalo::MailThread& thread : mailbox->threads) {
    if (thread.tid > mailbox->max_tid || thread.date < 0 || thread.date > vexalo::kMaxMailTime ||
        thread.messages < 0 || thread.participation < 0 ||
        thread.senders.size() > vexalo::MailThread::kMaxSenders) {
      abort();
    }
  }
  if (mailbox->threads.empty()
          ? mailbox->max_tid != 0
          : std::none_of(mailbox->threads.begin(), mailbox->threads.end(),
                         [&](const vexalo::MailThread& t) { return t.tid == mailbox->max_tid; })) {
    abort();
  }
  return 0;
}
