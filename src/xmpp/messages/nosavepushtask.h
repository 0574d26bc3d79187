#pragma once

#include "base/runtime/signal.h"
#include "xmpp/messages/nosaveentry.h"
#include "xmpp/stream/stanzatask.h"

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
