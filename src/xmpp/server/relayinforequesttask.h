#pragma once

#include <memory>

#include "xmpp/stream/requesttask.h"

namespace vexalo {

class RelayInfoTask;

// One "ombrix:relayinfo" request of a RelayInfoTask; hands the answer to it.
class RelayInfoRequestTask : public RequestTask {
 public:
  explicit RelayInfoRequestTask(RelayInfoTask* parent);

 protected:
  std::unique_ptr<XmlElem> MakePayload() override;
  void ReadAnswer(const XmlElem& answer) override;

 private:
  RelayInfoTask* owner_;
};

}  // namespace vexalo
