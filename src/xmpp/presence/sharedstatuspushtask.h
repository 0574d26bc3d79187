#pragma once

#include "base/runtime/signal.h"
#include "xmpp/presence/sharedstatus.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// Takes the shared status the server pushes when another of the user's clients changed it,
// for the life of the connection. Pushes from anybody but our own server or account are
// refused.
class SharedStatusPushTask : public StanzaTask {
 public:
  explicit SharedStatusPushTask(StepTaskParent* parent);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;

  Signal<const SharedStatus&> SignalSharedStatus;
};

}  // namespace vexalo
