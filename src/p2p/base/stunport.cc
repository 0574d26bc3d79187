#include "p2p/base/stunport.h"

#include "base/runtime/logging.h"
#include "p2p/base/stunbindingtransaction.h"

namespace vexalo {

namespace {
constexpr char kStunPortType[] = "stun";
}  // namespace

StunPort::StunPort(EventQueue* thread, SocketHub* factory, const Network& network,
                   const SocketAddress& local_address, const SocketAddress& server)
    : UdpPort(thread, factory, network, local_address, kStunPortType),
      server_(server),
      requests_(thread) {
  requests_.SendPacket.Connect(this, &StunPort::SendToServer);
}

StunPort::~StunPort() { requests_.Clear(); }

void StunPort::PrepareAddress() {
  requests_.Send(std::make_unique<StunBindingTransaction>(this, thread()->Now()));
}

bool StunPort::IsServer(const SocketAddress& address) const {
  return address.ip() == server_.ip() && address.port() == server_.port();
}

void StunPort::SendToServer(const char* data, size_t size) {
  if (!socket() || socket()->SendTo(data, size, server_) < 0) {
    LOG_ERR(kError, static_cast<uint32_t>(socket() ? socket()->GetError() : 0)) << "sendto";
  }
}

void StunPort::OnReadPacket(const char* data, size_t size, const SocketAddress& from,
                            PacketSocket* socket) {
  if (IsServer(from)) {
    if (requests_.CheckResponse(data, size)) return;
  } else if (requests_.IsOutstanding(data, size)) {
    // Someone who saw or guessed a transaction id must not choose our public address.
    ++foreign_responses_;
    if (AllowStrangerLog()) {
      LOG(kWarning) << "Dropped STUN response from " << from.ToString()
                    << ", not the server " << server_.ToString();
    }
    return;
  }
  UdpPort::OnReadPacket(data, size, from, socket);
}

}  // namespace vexalo
