#pragma once

#include "base/runtime/signal.h"
#include "xmpp/messages/nosaveentry.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// Reads every off-the-record setting of the account once. A server without the service (an
// error answer) reports nothing.
class NoSaveQueryTask : public StanzaTask {
 public:
  explicit NoSaveQueryTask(StepTaskParent* parent);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;

  Signal<const NoSaveEntry&> SignalNoSave;
};

}  // namespace vexalo
