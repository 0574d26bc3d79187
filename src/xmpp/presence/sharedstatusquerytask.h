#pragma once

#include <memory>

#include "base/runtime/signal.h"
#include "xmpp/stream/requesttask.h"
#include "xmpp/presence/sharedstatus.h"

namespace vexalo {

// Reads the shared status from the user's own account once. A server without the service
// (an error answer) reports nothing.
class SharedStatusQueryTask : public RequestTask {
 public:
  explicit SharedStatusQueryTask(StepTaskParent* parent);

  Signal<const SharedStatus&> SignalSharedStatus;

 protected:
  std::unique_ptr<XmlElem> MakePayload() override;
  // Asked of our bare address, which our server answers for: from it, from our domain or
  // without a "from" (as servers commonly do for the account's own data).
  XmppAddress Addressee() const override { return BoundAddress().WithoutResource(); }
  void ReadAnswer(const XmlElem& answer) override;
};

}  // namespace vexalo
