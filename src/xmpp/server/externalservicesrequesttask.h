#pragma once

#include <memory>

#include "xmpp/stream/requesttask.h"

namespace vexalo {

class ExternalServicesTask;

// One external service discovery request of an ExternalServicesTask, to the own server's
// domain: the service list, or the credentials of one service. Hands the answer to the owner.
class ExternalServicesRequestTask : public RequestTask {
 public:
  // `payload`: a <services/> or <credentials/> element.
  ExternalServicesRequestTask(ExternalServicesTask* parent, std::unique_ptr<XmlElem> payload);

 protected:
  std::unique_ptr<XmlElem> MakePayload() override;
  XmppAddress Addressee() const override;
  void ReadAnswer(const XmlElem& answer) override;

 private:
  ExternalServicesTask* owner_;
  std::unique_ptr<XmlElem> payload_;
  bool credentials_;
};

}  // namespace vexalo
