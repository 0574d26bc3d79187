#include "p2p/base/udpport.h"

#include "base/runtime/logging.h"
#include "p2p/base/datagramconnection.h"

namespace vexalo {

namespace {
constexpr char kLocalPortType[] = "local";
}  // namespace

UdpPort::UdpPort(EventQueue* thread, SocketHub* factory, const Network& network,
                 const SocketAddress& local_address)
    : UdpPort(thread, factory, network, local_address, kLocalPortType) {}

UdpPort::UdpPort(EventQueue* thread, SocketHub* factory, const Network& network,
                 const SocketAddress& local_address, const std::string& type)
    : Port(thread, factory, network, type), socket_(CreatePacketSocket(PROTO_UDP)) {
  if (!socket_) {
    LOG(kError) << "bind: no socket";
    return;
  }
  socket_->ReadPacket.Connect(this, &UdpPort::OnReadPacket);
  if (socket_->Bind(local_address) < 0) {
    error_ = socket_->GetError();
    LOG_ERR(kError, static_cast<uint32_t>(error_)) << "bind";
  }
}

UdpPort::~UdpPort() = default;

SocketAddress UdpPort::local_address() const {
  return socket_ ? socket_->GetLocalAddress() : SocketAddress();
}

void UdpPort::PrepareAddress() { AddAddress(local_address(), "udp", true); }

Connection* UdpPort::CreateConnection(const Candidate& remote, CandidateOrigin origin) {
  (void)origin;
  if (remote.protocol != "udp") return nullptr;
  auto* connection = new DatagramConnection(this, 0, remote);
  AddConnection(connection);
  return connection;
}

int UdpPort::SendTo(const char* data, size_t size, const SocketAddress& address,
                    bool is_payload) {
  (void)is_payload;
  if (!socket_) return -1;
  int sent = socket_->SendTo(data, size, address);
  if (sent < 0) error_ = socket_->GetError();
  return sent;
}

int UdpPort::SetOption(SocketOption option, int value) {
  return socket_ ? socket_->SetOption(option, value) : -1;
}

void UdpPort::OnReadPacket(const char* data, size_t size, const SocketAddress& from,
                           PacketSocket* socket) {
  (void)socket;
  if (Connection* connection = GetConnection(from)) {
    connection->OnReadPacket(data, size);
  } else {
    HandleUnknownAddressPacket(data, size, from);
  }
}

}  // namespace vexalo
