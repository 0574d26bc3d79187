// Feeds arbitrary client packets into a live relay server, from a handful of client
// addresses, one of which holds a real allocation first. Whatever arrives, the server must
// neither crash nor hold more allocations than its limits allow.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/net/asyncudpsocket.h"
#include "base/runtime/eventqueue.h"
#include "p2p/base/stunpacket.h"
#include "p2p/base/wirebuffer.h"
#include "relayd/relayserver.h"
#include "relayd/relaysessionstore.h"

namespace {

using namespace vexalo;

constexpr uint32_t kLoopback = 0x7F000001;

struct Fixture {
  Fixture() : sessions(4, 60000), server(&queue, &sessions, Limits()) {
    server.Start(kLoopback, 0, 0, -1, -1);
    reply.reset(new AsyncUdpSocket(queue.hub()->CreateEventSocket(kDatagramSocket)));
    reply->Bind(SocketAddress(kLoopback, 0));
    session = *sessions.Create(queue.Now());
  }
  static RelayLimits Limits() {
    RelayLimits limits;
    limits.max_allocations = 3;
    limits.max_allocations_per_client = 2;
    limits.allow_loopback_peers = true;
    return limits;
  }
  std::string Allocate() const {
    StunPacket request;
    request.SetType(STUN_ALLOCATE_REQUEST);
    auto cookie = StunPacket::CreateBytes(STUN_ATTR_MAGIC_COOKIE);
    cookie->CopyBytes(session.magic_cookie);
    request.Append(std::move(cookie));
    auto username = StunPacket::CreateBytes(STUN_ATTR_USERNAME);
    username->CopyBytes(session.username);
    request.Append(std::move(username));
    WireBuffer bytes;
    request.Serialize(&bytes);
    return std::string(bytes.Data(), bytes.Length());
  }

  EventQueue queue;
  RelaySessionStore sessions;
  RelayServer server;
  std::unique_ptr<PacketSocket> reply;
  RelaySession session;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* f = new Fixture();
  // Replies go to the discard port: nothing answers them.
  const SocketAddress first(kLoopback, 9);
  const std::string allocate = f->Allocate();
  f->server.OnClientPacket(allocate.data(), allocate.size(), first, f->reply.get());
  size_t offset = 0;
  // Each packet: a byte choosing the client (0: the allocated one), a length byte, bytes. A
  // cookie placeholder "@@@@" at offset 24 is replaced by the session's cookie, so locked and
  // framed paths are reached.
  while (offset + 2 <= size) {
    const uint8_t sender = data[offset] % 8;
    size_t length = data[offset + 1] * 4u;
    offset += 2;
    if (length > size - offset) length = size - offset;
    std::string packet(reinterpret_cast<const char*>(data + offset), length);
    if (packet.size() >= 28 && packet.compare(24, 4, "@@@@") == 0) {
      packet.replace(24, 4, f->session.magic_cookie);
    }
    const SocketAddress from(kLoopback, static_cast<uint16_t>(9 + sender * 1000));
    f->server.OnClientPacket(packet.data(), packet.size(), from, f->reply.get());
    offset += length;
  }
  if (f->server.allocation_count() > 3) abort();
  return 0;
}
