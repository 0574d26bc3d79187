// vexalo-relayd's relay path on loopback: 200-byte packets from a locked allocation to a
// peer (the steady state of a relayed call), against the same packets sent directly, and
// the memory one allocation costs. Server and sockets share one thread, so the time per
// packet is the whole CPU cost of the hop: the client's send, the relay's receive and send,
// the peer's receive.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/net/asyncudpsocket.h"
#include "base/runtime/eventqueue.h"
#include "relaydmessage.h"
#include "p2p/base/stunpacket.h"
#include "p2p/base/wirebuffer.h"
#include "relayd/relayserver.h"
#include "relayd/relaysessionstore.h"

namespace vexalo {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr size_t kPacketSize = 200;

struct Endpoint : public SlotHost {
  explicit Endpoint(EventQueue* queue)
      : socket(new AsyncUdpSocket(queue->hub()->CreateEventSocket(kDatagramSocket))) {
    socket->Bind(SocketAddress(kLoopback, 0));
    socket->ReadPacket.Connect(this, [this](const char* data, size_t size, const SocketAddress&,
                                            PacketSocket*) {
      ++received;
      last.assign(data, size);
    });
  }
  SocketAddress address() const { return socket->GetLocalAddress(); }
  std::unique_ptr<PacketSocket> socket;
  int received = 0;
  std::string last;
};

void Pump(EventQueue* queue, const int* counter, int target) {
  QueuedMessage msg;
  while (*counter < target) {
    queue->hub()->Wait(100, true);
    while (queue->Get(&msg, 0)) queue->Dispatch(&msg);
  }
}

std::string Message(uint16_t type, const RelaySession& session,
                    const SocketAddress* destination, bool lock) {
  return RelaydMessage(type, session.username, session.magic_cookie, destination, lock);
}

struct Relay {
  Relay() : sessions(100000, 3600000), server(&queue, &sessions, Limits()) {
    server.Start(kLoopback, 0, 0, -1, -1);
    session = *sessions.Create(queue.Now());
  }
  static RelayLimits Limits() {
    RelayLimits limits;
    limits.allow_loopback_peers = true;
    limits.bandwidth_bytes_per_second = 1000000000;
    limits.max_allocations = 100000;
    limits.max_allocations_per_client = 100000;
    return limits;
  }
  SocketAddress address() const { return SocketAddress(kLoopback, static_cast<uint16_t>(server.udp_port())); }
  EventQueue queue;
  RelaySessionStore sessions;
  RelayServer server;
  RelaySession session;
};

void BM_DirectUdp(benchmark::State& state) {
  EventQueue queue;
  Endpoint client(&queue);
  Endpoint peer(&queue);
  const std::string payload(kPacketSize, 'p');
  for (auto _ : state) {
    client.socket->SendTo(payload.data(), payload.size(), peer.address());
    Pump(&queue, &peer.received, peer.received + 1);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DirectUdp)->UseRealTime();

// Client to peer through a locked allocation, unframed.
void BM_VexaloRelaydLocked(benchmark::State& state) {
  Relay relay;
  Endpoint client(&relay.queue);
  Endpoint peer(&relay.queue);
  const SocketAddress to = peer.address();
  const std::string allocate = Message(STUN_ALLOCATE_REQUEST, relay.session, nullptr, false);
  client.socket->SendTo(allocate.data(), allocate.size(), relay.address());
  Pump(&relay.queue, &client.received, 1);
  const std::string lock = Message(STUN_SEND_REQUEST, relay.session, &to, true);
  client.socket->SendTo(lock.data(), lock.size(), relay.address());
  Pump(&relay.queue, &peer.received, 1);
  Pump(&relay.queue, &client.received, 2);
  const std::string payload(kPacketSize, 'p');
  for (auto _ : state) {
    client.socket->SendTo(payload.data(), payload.size(), relay.address());
    Pump(&relay.queue, &peer.received, peer.received + 1);
  }
  state.SetItemsProcessed(state.iterations());
  if (peer.last.size() != kPacketSize) state.SkipWithError("payload changed on the way");
}
BENCHMARK(BM_VexaloRelaydLocked)->UseRealTime();

// Peer to client before the lock: every packet wrapped in a Data Indication.
void BM_VexaloRelaydDataIndication(benchmark::State& state) {
  Relay relay;
  Endpoint client(&relay.queue);
  Endpoint peer(&relay.queue);
  const std::string allocate = Message(STUN_ALLOCATE_REQUEST, relay.session, nullptr, false);
  client.socket->SendTo(allocate.data(), allocate.size(), relay.address());
  Pump(&relay.queue, &client.received, 1);
  WireBuffer reader(client.last.data(), client.last.size());
  StunPacket answer;
  answer.Parse(&reader);
  const SocketAddress relayed = answer.FindAddress(STUN_ATTR_MAPPED_ADDRESS)->address();
  const std::string payload(kPacketSize, 'p');
  for (auto _ : state) {
    peer.socket->SendTo(payload.data(), payload.size(), relayed);
    Pump(&relay.queue, &client.received, client.received + 1);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VexaloRelaydDataIndication)->UseRealTime();

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Server memory per allocation (its relayed socket, buffers and state), from the resident
// size before and after 1000 allocations from 1000 client sockets.
void BM_MemoryPerAllocation(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Relay relay;
    std::vector<std::unique_ptr<Endpoint>> clients;
    for (int i = 0; i < count; ++i) clients.push_back(std::make_unique<Endpoint>(&relay.queue));
    const std::string allocate = Message(STUN_ALLOCATE_REQUEST, relay.session, nullptr, false);
    const long before = ResidentKiB();
    int answered = 0;
    for (auto& client : clients) {
      client->socket->SendTo(allocate.data(), allocate.size(), relay.address());
      Pump(&relay.queue, &client->received, 1);
      ++answered;
    }
    const long after = ResidentKiB();
    state.counters["KiB_per_allocation"] = static_cast<double>(after - before) / answered;
    state.counters["allocations"] = static_cast<double>(relay.server.allocation_count());
  }
}
BENCHMARK(BM_MemoryPerAllocation)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vexalo

BENCHMARK_MAIN();
