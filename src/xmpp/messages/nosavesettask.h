#pragma once

#include <memory>

#include "base/runtime/signal.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// Asks the server to keep (or stop keeping) the history of conversations with some contacts:
// one iq "set" to our own bare address.
class NoSaveSetTask : public StanzaTask {
 public:
  explicit NoSaveSetTask(StepTaskParent* parent);

  // Before Start only (kBadState after); `enabled` takes the conversation off the record.
  EngineResult AddItem(const XmppAddress& contact, bool enabled);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;

  // The server's answer: true for a result.
  Signal<bool> SignalDone;

 private:
  std::unique_ptr<XmlElem> query_;
};

}  // namespace vexalo
