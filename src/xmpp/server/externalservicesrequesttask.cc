#include "xmpp/server/externalservicesrequesttask.h"

#include "xmpp/server/externalservicestask.h"
#include "xmpp/stream/constants.h"

namespace vexalo {

ExternalServicesRequestTask::ExternalServicesRequestTask(ExternalServicesTask* parent,
                                                         std::unique_ptr<XmlElem> payload)
    : RequestTask(parent, kStrGet),
      owner_(parent),
      payload_(std::move(payload)),
      credentials_(payload_->Name() == kQnExtDiscoCredentials) {}

std::unique_ptr<XmlElem> ExternalServicesRequestTask::MakePayload() { return std::move(payload_); }

// Servers answer the discovery on their own address, not on the account's.
XmppAddress ExternalServicesRequestTask::Addressee() const {
  return XmppAddress("", BoundAddress().DomainPart(), "");
}

void ExternalServicesRequestTask::ReadAnswer(const XmlElem& answer) {
  if (credentials_) {
    owner_->OnCredentials(answer);
  } else {
    owner_->OnServices(answer);
  }
}

}  // namespace vexalo
