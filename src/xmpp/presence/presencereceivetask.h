#pragma once

#include <deque>

#include "base/runtime/signal.h"
#include "xmpp/presence/presencestatus.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// Receives the available and unavailable presences of contacts for the life of the
// connection. Subscriptions, probes and errors are left to other handlers.
class PresenceReceiveTask : public StanzaTask {
 public:
  explicit PresenceReceiveTask(StepTaskParent* parent);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  void Stop() override;

  Signal<const PresenceStatus&> SignalPresence;

 private:
  // Read as they arrive (the stanza lives only during HandleStanza), reported when the task
  // runs: a burst of presences costs no copies of their elements.
  std::deque<PresenceStatus> pending_;
};

}  // namespace vexalo
