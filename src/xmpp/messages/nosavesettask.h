#pragma once

#include <memory>

#include "base/runtime/signal.h"
#include "xmpp/stream/requesttask.h"

namespace vexalo {

// Asks the server to keep (or stop keeping) the history of conversations with some contacts:
// one iq "set" to our own bare address.
class NoSaveSetTask : public RequestTask {
 public:
  explicit NoSaveSetTask(StepTaskParent* parent);

  // Before Start only (kBadState after); `enabled` takes the conversation off the record.
  EngineResult AddItem(const XmppAddress& contact, bool enabled);

  // The server's answer: true for a result.
  Signal<bool> SignalDone;

 protected:
  std::unique_ptr<XmlElem> MakePayload() override { return std::move(query_); }
  XmppAddress Addressee() const override { return BoundAddress().WithoutResource(); }
  void ReadAnswer(const XmlElem& answer) override;

 private:
  std::unique_ptr<XmlElem> query_;
};

}  // namespace vexalo
