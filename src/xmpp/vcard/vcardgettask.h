#pragma once

#include <string>

#include "base/runtime/signal.h"
#include "xmpp/stream/stanzatask.h"
#include "xmpp/vcard/vcard.h"

namespace vexalo {

// Fetches one vCard. With the hash of the picture we already have, the server may answer that
// it is unchanged (VCard::IsModified false). Errors and answers without a vCard end the task
// without a signal.
class VCardGetTask : public StanzaTask {
 public:
  explicit VCardGetTask(StepTaskParent* parent);

  // Before Start. A bare address; kEmptyAddress asks for our own card.
  void SetTarget(const XmppAddress& target) { target_ = target; }
  // Ignored unless it is a picture hash (40 hex digits).
  void SetKnownHash(const std::string& hash) { known_hash_ = hash; }

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;

  Signal<const XmppAddress&, const VCard&> SignalVCard;

 private:
  XmppAddress target_;
  std::string known_hash_;
};

}  // namespace vexalo
