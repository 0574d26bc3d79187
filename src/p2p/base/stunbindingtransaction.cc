#include "p2p/base/stunbindingtransaction.h"

#include "base/runtime/logging.h"
#include "p2p/base/stunport.h"

namespace vexalo {

void StunBindingTransaction::Prepare(StunPacket* packet) {
  packet->SetType(STUN_BINDING_REQUEST);
}

void StunBindingTransaction::OnResponse(const StunPacket& response) {
  const AddressAttr* mapped = response.FindAddress(STUN_ATTR_MAPPED_ADDRESS);
  if (!mapped) {
    LOG(kError) << "Binding response missing mapped address.";
  } else if (mapped->family() != STUN_ADDRESS_IPV4) {
    LOG(kError) << "Binding address has bad family";
  } else if (port_->candidates().empty()) {
    port_->AddAddress(mapped->address(), "udp", true);
  }
  SendNext(kKeepAliveMs);
}

void StunBindingTransaction::OnErrorResponse(const StunPacket& response) {
  if (const ErrorAttr* error = response.FindError()) {
    LOG(kError) << "Binding error response:" << " class=" << error->error_class()
                << " number=" << error->number() << " reason='"
                << PrintableText(error->reason(), 128) << "'";
  } else {
    LOG(kError) << "Bad allocate response error code";
  }
  if (!GivenUp()) SendNext(kKeepAliveMs);
}

void StunBindingTransaction::OnTimeout() {
  LOG(kError) << "Binding request timed out";
  if (!GivenUp()) SendNext(kRetryAfterTimeoutMs);
}

bool StunBindingTransaction::GivenUp() const {
  return TickDiff(port_->thread()->Now(), created_) > kGiveUpAfterMs;
}

void StunBindingTransaction::SendNext(int delay_ms) {
  port_->requests()->SendDelayed(
      std::make_unique<StunBindingTransaction>(port_, port_->thread()->Now()), delay_ms);
}

}  // namespace vexalo
