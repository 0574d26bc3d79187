#pragma once

#include <string_view>

#include "base/runtime/signal.h"
#include "xmpp/stream/stanzatask.h"
#include "xmpp/vcard/vcard.h"

namespace vexalo {

// Publishes our own vCard: the picture, or a card without one.
class VCardSetTask : public StanzaTask {
 public:
  explicit VCardSetTask(StepTaskParent* parent);

  // Before Start. False (and nothing set) when the text decodes to more than kMaxAvatarBytes
  // or is not Base64.
  bool SetPhoto(std::string_view base64);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;

  // (accepted by the server, the card sent).
  Signal<bool, const VCard&> SignalVCardSet;

 private:
  VCard card_;
};

}  // namespace vexalo
