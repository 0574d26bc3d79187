#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/net/asyncudpsocket.h"
#include "base/runtime/eventqueue.h"
#include "p2p/base/stunpacket.h"
#include "p2p/base/wirebuffer.h"

namespace vexalo {

// A bare UDP socket on 127.0.0.1 standing in for a peer or a STUN server, so a test can see
// the exact datagrams a port sends and answer with whatever bytes it likes.
class RawPeer : public SlotHost {
 public:
  struct Datagram {
    std::string bytes;
    SocketAddress from;
  };

  explicit RawPeer(EventQueue* queue)
      : socket_(new AsyncUdpSocket(queue->hub()->CreateEventSocket(kDatagramSocket))) {
    socket_->Bind(SocketAddress(0x7F000001, 0));
    socket_->ReadPacket.Connect(
        this, [this](const char* data, size_t size, const SocketAddress& from, PacketSocket*) {
          received.push_back(Datagram{std::string(data, size), from});
        });
  }

  SocketAddress address() const { return socket_->GetLocalAddress(); }
  void SendTo(const std::string& bytes, const SocketAddress& to) {
    socket_->SendTo(bytes.data(), bytes.size(), to);
  }
  // The last datagram parsed as STUN; false when there is none or it does not parse.
  bool LastStun(StunPacket* packet) const {
    if (received.empty()) return false;
    WireBuffer reader(received.back().bytes.data(), received.back().bytes.size());
    return packet->Parse(&reader);
  }

  static std::string Serialize(const StunPacket& packet) {
    WireBuffer writer;
    packet.Serialize(&writer);
    return std::string(writer.Data(), writer.Length());
  }

  std::vector<Datagram> received;

 private:
  std::unique_ptr<PacketSocket> socket_;
};

}  // namespace vexalo
