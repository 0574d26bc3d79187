#include "p2p/base/allocatetransaction.h"

#include <algorithm>

#include "base/runtime/logging.h"
#include "p2p/base/relayentry.h"
#include "p2p/base/relayport.h"

namespace vexalo {

namespace {
constexpr int kMaxSends = 5;
}  // namespace

void AllocateTransaction::Prepare(StunPacket* packet) {
  packet->SetType(STUN_ALLOCATE_REQUEST);
  auto cookie = StunPacket::CreateBytes(STUN_ATTR_MAGIC_COOKIE);
  cookie->CopyBytes(entry_->port()->magic_cookie());
  packet->Append(std::move(cookie));
  auto username = StunPacket::CreateBytes(STUN_ATTR_USERNAME);
  username->CopyBytes(entry_->port()->username_fragment());
  packet->Append(std::move(username));
}

int AllocateTransaction::NextDelay() {
  int delay = 100 * std::max(1 << sends_, 2);
  if (++sends_ >= kMaxSends) timed_out_ = true;
  return delay;
}

void AllocateTransaction::OnResponse(const StunPacket& response) {
  const AddressAttr* mapped = response.FindAddress(STUN_ATTR_MAPPED_ADDRESS);
  if (!mapped) {
    LOG(kInfo) << "Allocate response missing mapped address.";
  } else if (mapped->family() != STUN_ADDRESS_IPV4) {
    LOG(kInfo) << "Mapped address has bad family";
  } else {
    LOG(kInfo) << "Relay allocate succeeded: " << "udp" << " @ " << mapped->address().ToString();
    entry_->OnAllocated();
    entry_->port()->OnAllocated(mapped->address());
  }
  entry_->SendAllocate(kRefreshMs);
}

void AllocateTransaction::OnErrorResponse(const StunPacket& response) {
  if (const ErrorAttr* error = response.FindError()) {
    LOG(kInfo) << "Allocate error response:" << " code=" << error->code() << " reason='"
               << PrintableText(error->reason(), 128) << "'";
  } else {
    LOG(kInfo) << "Bad allocate response error code";
  }
  const EventQueue* queue = entry_->transactions()->queue();
  if (TickDiff(queue->Now(), created_) <= kRetryAfterErrorWithinMs) {
    entry_->SendAllocate(kRefreshMs);
  }
}

void AllocateTransaction::OnTimeout() {
  LOG(kInfo) << "Allocate request timed out";
  // Fail-over clears the entry's table, which must not destroy this transaction under its
  // own feet: the transaction ends itself after this call.
  entry_->transactions()->Remove(this);
  entry_->FailOver();
}

}  // namespace vexalo
