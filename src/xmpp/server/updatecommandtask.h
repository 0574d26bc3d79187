#pragma once

#include "base/runtime/signal.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// The server's request to look for an update now ("ombrix:client:command" check-update), as
// an iq (acknowledged) or a message. Honoured only from our own server or account.
class UpdateCommandTask : public StanzaTask {
 public:
  explicit UpdateCommandTask(StepTaskParent* parent);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;

  Signal<> SignalCheckUpdate;
};

}  // namespace vexalo
