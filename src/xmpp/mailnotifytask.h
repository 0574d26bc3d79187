#pragma once

#include "base/signal.h"
#include "xmpp/mailbox.h"
#include "xmpp/mailchecker.h"
#include "xmpp/stanzatask.h"

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
