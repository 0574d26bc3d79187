#pragma once

#include "base/signal.h"
#include "xmpp/nosaveentry.h"
#include "xmpp/stanzatask.h"

namespace vexalo {

// Receives, for as long as the connection lives, the server's notices that an off-the-record
// setting changed (by this or another resource of the account), and acknowledges them.
class NoSavePushTask : public StanzaTask {
 public:
  explicit NoSavePushTask(StepTaskParent* parent);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;

  Signal<const NoSaveEntry&> SignalNoSave;
};

}  // namespace vexalo
