#pragma once

#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// One iq "set" to the user's own server, ended by its answer (result or error alike). The
// subclass chooses the payload and what follows the answer.
class ServerSetTask : public StanzaTask {
 public:
  bool HandleStanza(const XmlElem& stanza) override;

 protected:
  explicit ServerSetTask(StepTaskParent* parent);

  // Sends the set with a copy of `payload`: STATE_RESPONSE, or STATE_ERROR when it cannot go.
  int SendSet(const XmlElem& payload);
  bool sent() const { return sent_; }
  bool answered() const { return answered_; }

 private:
  bool sent_ = false;
  bool answered_ = false;
};

}  // namespace vexalo
