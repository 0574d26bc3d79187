#include "p2p/base/pingtransaction.h"

#include "p2p/base/connection.h"
#include "p2p/base/port.h"

namespace vexalo {

void PingTransaction::Prepare(StunPacket* packet) {
  packet->SetType(STUN_BINDING_REQUEST);
  auto username = StunPacket::CreateBytes(STUN_ATTR_USERNAME);
  username->CopyBytes(connection_->remote_candidate().username +
                      connection_->port()->username_fragment());
  packet->Append(std::move(username));
}

void PingTransaction::OnResponse(const StunPacket& response) {
  connection_->OnPingResponse(response, Elapsed());
}

void PingTransaction::OnErrorResponse(const StunPacket& response) {
  connection_->OnPingErrorResponse(response);
}

int PingTransaction::NextDelay() {
  timed_out_ = true;
  return kTimeoutMs;
}

}  // namespace vexalo
