#pragma once

#include "xmpp/presence/sharedstatus.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// Stores a shared status on the user's own account; the answer ends it.
class SharedStatusSetTask : public StanzaTask {
 public:
  SharedStatusSetTask(StepTaskParent* parent, const SharedStatus& status);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;

 private:
  SharedStatus status_;
  XmppAddress to_;
  bool answered_ = false;
};

}  // namespace vexalo
