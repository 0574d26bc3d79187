// Feeds arbitrary datagrams, from a connected peer and from strangers, into a live UDP port
// that has a readable connection with a check outstanding. Whatever arrives, the port must
// neither crash nor keep more than one connection per peer it was given.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/runtime/eventqueue.h"
#include "p2p/base/connection.h"
#include "p2p/base/udpport.h"

namespace {

using namespace vexalo;

// Reaches the port's receive path without going through the kernel.
class FuzzPort : public UdpPort {
 public:
  using UdpPort::OnReadPacket;
  using UdpPort::UdpPort;
};

struct Fixture {
  Fixture() : port(&queue, nullptr, Network{"lo", 0x7F000001}, SocketAddress(0x7F000001, 0)) {
    port.PrepareAddress();
    Candidate remote;
    remote.protocol = "udp";
    remote.address = SocketAddress(0x7F000001, 9);  // discard: nothing answers
    remote.username = "fuzzpeerfragment";
    connection = port.CreateConnection(remote, ORIGIN_MESSAGE);
    connection->ReceivedPing();
  }
  EventQueue queue;
  FuzzPort port;
  Connection* connection;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture f;
  f.connection->Ping(f.queue.Now());
  size_t offset = 0;
  // Each datagram: a byte choosing the sender (0: the connected peer), a length byte, bytes.
  while (offset + 2 <= size) {
    const uint8_t sender = data[offset];
    size_t length = data[offset + 1] * 4u;
    offset += 2;
    if (length > size - offset) length = size - offset;
    const SocketAddress from = sender == 0 ? f.connection->remote_candidate().address
                                           : SocketAddress(0x7F000002u + sender, 4000 + sender);
    f.port.OnReadPacket(reinterpret_cast<const char*>(data + offset), length, from, nullptr);
    offset += length;
  }
  QueuedMessage msg;
  for (int i = 0; i < 4 && f.queue.Get(&msg, 0); ++i) f.queue.Dispatch(&msg);
  if (f.port.connections().size() > 1) abort();
  return 0;
}
