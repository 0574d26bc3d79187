#include "xmpp/mail/mailnotifytask.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

MailNotifyTask::MailNotifyTask(StepTaskParent* parent)
    : StanzaTask(parent, kLevelThird), checker_(this) {
  checker_.SignalMailbox.Connect(
      this, [this](const Mailbox* mailbox, bool timed_out) { SignalMailbox(mailbox, timed_out); });
}

bool MailNotifyTask::FromOwnServer(const XmlElem& stanza) const {
  if (!stanza.HasAttribute(kQnFrom)) return true;
  const XmppAddress from(stanza.GetAttribute(kQnFrom));
  const XmppAddress& bound = BoundAddress();
  if (!from.IsValid() || !bound.IsValid()) return false;
  return from.SameAccount(bound) || from == XmppAddress("", bound.DomainPart(), "");
}

bool MailNotifyTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchRequestIq(stanza, kStrSet, kQnMailNewMail)) return false;
  // Somebody else's "new mail" would make us ask our server again and again.
  if (!FromOwnServer(stanza)) return false;
  SendStanza(*MakeIqResult(stanza));
  QueueStanza(stanza);
  return true;
}

int MailNotifyTask::ProcessStart() {
  while (NextStanza() != nullptr) checker_.CheckMail();
  return STATE_BLOCKED;
}

void MailNotifyTask::Stop() {
  checker_.SetSuspended(true);
  StanzaTask::Stop();
}

}  // namespace vexalo
