#pragma once

#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// Asks the server for the current presence of one contact, and ends.
class PresenceProbeTask : public StanzaTask {
 public:
  PresenceProbeTask(StepTaskParent* parent, const XmppAddress& to);

  int ProcessStart() override;

 private:
  XmppAddress to_;
};

}  // namespace vexalo
