#pragma once

#include <memory>
#include <string>

#include "base/runtime/signal.h"
#include "xmpp/stream/requesttask.h"
#include "xmpp/vcard/vcard.h"

namespace vexalo {

// Fetches one vCard. With the hash of the picture we already have, the server may answer that
// it is unchanged (VCard::IsModified false). Errors and answers without a vCard end the task
// without a signal.
class VCardGetTask : public RequestTask {
 public:
  explicit VCardGetTask(StepTaskParent* parent);

  // Before Start. A bare address; kEmptyAddress asks for our own card.
  void SetTarget(const XmppAddress& target) { target_ = target; }
  // Ignored unless it is a picture hash (40 hex digits).
  void SetKnownHash(const std::string& hash) { known_hash_ = hash; }

  Signal<const XmppAddress&, const VCard&> SignalVCard;

 protected:
  std::unique_ptr<XmlElem> MakePayload() override;
  XmppAddress Addressee() const override { return target_; }
  bool FromAddressee(const XmlElem& stanza) const override;
  void ReadAnswer(const XmlElem& answer) override;

 private:
  XmppAddress target_;
  std::string known_hash_;
};

}  // namespace vexalo
