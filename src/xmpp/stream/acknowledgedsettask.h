#pragma once

#include <cstdint>
#include <memory>

#include "base/runtime/signal.h"
#include "xmpp/stream/stanzatask.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// Sends one iq "set" to another client and waits for its answer, at most 30 seconds by
// default. Subclasses fill in the payload; the answer only counts from the address asked.
class AcknowledgedSetTask : public StanzaTask {
 public:
  static constexpr int64_t kTimeout100ns = 300'000'000;  // 30 s

  void SetTimeout(int64_t timeout_100ns) { timeout_ = timeout_100ns; }

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;
  void Poll() override;

  // True when the other client acknowledged; false on an error answer, a failed send or the
  // time-out. Fired exactly once.
  Signal<bool> SignalDone;

 protected:
  AcknowledgedSetTask(StepTaskParent* parent, const XmppAddress& to);

  // Adds the payload to the outgoing iq.
  virtual void AddPayload(XmlElem* iq) = 0;

 private:
  XmppAddress to_;
  int64_t timeout_ = kTimeout100ns;
};

}  // namespace vexalo
