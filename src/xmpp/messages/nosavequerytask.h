#pragma once

#include <memory>

#include "base/runtime/signal.h"
#include "xmpp/messages/nosaveentry.h"
#include "xmpp/stream/requesttask.h"

namespace vexalo {

// Reads every off-the-record setting of the account once. A server without the service (an
// error answer) reports nothing.
class NoSaveQueryTask : public RequestTask {
 public:
  explicit NoSaveQueryTask(StepTaskParent* parent);

  Signal<const NoSaveEntry&> SignalNoSave;

 protected:
  std::unique_ptr<XmlElem> MakePayload() override;
  XmppAddress Addressee() const override { return BoundAddress().WithoutResource(); }
  void ReadAnswer(const XmlElem& answer) override;
};

}  // namespace vexalo
