#pragma once

#include <cstdint>
#include <memory>

#include "xmpp/stream/requesttask.h"

namespace vexalo {

// One command on the service's interaction counters of a contact: count messages exchanged
// (increment-mc) or raise the contact's weight (boost-mc). Chosen before start; the answer
// ends the task without reporting the outcome.
class RosterCounterTask : public RequestTask {
 public:
  explicit RosterCounterTask(StepTaskParent* parent);

  // kBadState once a command was chosen or the request went out.
  EngineResult IncrementMessageCount(const XmppAddress& address, int32_t n);
  EngineResult BoostMessageCount(const XmppAddress& address, int32_t n);

 protected:
  // Nothing chosen: nothing to do, the task ends without sending.
  std::unique_ptr<XmlElem> MakePayload() override { return std::move(command_); }
  void ReadAnswer(const XmlElem& /*answer*/) override {}

 private:
  EngineResult SetCommand(const XmlName& name, const XmppAddress& address, int32_t n);

  std::unique_ptr<XmlElem> command_;
};

}  // namespace vexalo
