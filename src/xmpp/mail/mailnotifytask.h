#pragma once

#include "base/runtime/signal.h"
#include "xmpp/mail/mailbox.h"
#include "xmpp/mail/mailchecker.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// Lives as long as the connection: acknowledges the server's new-mail notices and checks the
// mailbox for each; owns the bookkeeping of what was seen.
class MailNotifyTask : public StanzaTask {
 public:
  explicit MailNotifyTask(StepTaskParent* parent);

  void CheckMail() { checker_.CheckMail(); }
  void ResetAndCheck() { checker_.ResetAndCheck(); }
  void SetSuspended(bool suspended) { checker_.SetSuspended(suspended); }
  MailChecker& checker() { return checker_; }

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  void Stop() override;

  // (mailbox or null, timed out) for every check.
  Signal<const Mailbox*, bool> SignalMailbox;

 private:
  bool FromOwnServer(const XmlElem& stanza) const;

  MailChecker checker_;
};

}  // namespace vexalo
