#pragma once

#include "base/runtime/signal.h"
#include "xmpp/presence/sharedstatus.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// Reads the shared status from the user's own account once. A server without the service
// (an error answer) reports nothing.
class SharedStatusQueryTask : public StanzaTask {
 public:
  explicit SharedStatusQueryTask(StepTaskParent* parent);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;

  Signal<const SharedStatus&> SignalSharedStatus;

 private:
  XmppAddress to_;
};

}  // namespace vexalo
