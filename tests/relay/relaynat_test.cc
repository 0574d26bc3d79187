// Relay behind NATs: run through tests/scripts/p2p-relay-nat.sh, which makes the namespaces;
// each party and the relay run on a thread of their own inside their namespace.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "base/net/asyncudpsocket.h"
#include "p2p/base/connection.h"
#include "p2p/base/relayentry.h"
#include "p2p/base/relayport.h"
#include "p2p/base/turnport.h"
#include "relayd/relayserver.h"
#include "relayd/relaysessionstore.h"
#include "support/netns.h"
#include "support/threadboard.h"

namespace vexalo {
namespace {

constexpr uint32_t kRelayIp = 0xC6130002;  // 198.19.0.2
constexpr uint32_t kPartyA = 0xC6120102;   // 198.18.1.2
constexpr uint32_t kPartyB = 0xC6120202;   // 198.18.2.2
constexpr int kPackets = 5;

// What the threads tell each other.
struct Board : ThreadBoard {
  bool relay_up = false;
  bool relay_failed = false;
  RelaySession session;
  int ports[3] = {0, 0, 0};
  SocketAddress candidate[2];  // the relay candidates of a and b
  uint16_t direct_port_b = 0;
  std::atomic<bool> stop{false};
};

struct PartyResult {
  bool entered = false;
  bool allocated = false;
  int received = 0;
  bool locked = false;
  int direct_received = 0;
  int proto = -1;  // of the relay server address that carried the traffic
};

bool Loop(EventQueue* queue, const std::function<bool()>& done, int ms) {
  for (int waited = 0; waited < ms && !done(); waited += 10) {
    QueuedMessage msg;
    while (queue->Get(&msg, 0)) queue->Dispatch(&msg);
    queue->hub()->Wait(10, true);
  }
  QueuedMessage msg;
  while (queue->Get(&msg, 0)) queue->Dispatch(&msg);
  return done();
}

void RunRelay(Board* board, const std::string& ns) {
  if (!EnterNamespace(ns)) {
    board->Update([&] { board->relay_failed = true; });
    return;
  }
  EventQueue queue;
  RelayLimits limits;
  RelaySessionStore sessions(limits.max_sessions, limits.session_lifetime_ms);
  RelayServer server(&queue, &sessions, limits);
  if (!server.Start(kRelayIp, 0, 0, 0, 0)) {
    board->Update([&] { board->relay_failed = true; });
    return;
  }
  board->Update([&] {
    board->session = *sessions.Create(queue.Now());
    board->ports[PROTO_UDP] = server.udp_port();
    board->ports[PROTO_TCP] = server.tcp_port();
    board->ports[PROTO_SSLTCP] = server.ssltcp_port();
    board->relay_up = true;
  });
  Loop(&queue, [&] { return board->stop.load(); }, 60000);
}

class Party : public SlotHost {
 public:
  Party(Board* board, int index, uint32_t ip, std::vector<ProtocolType> servers)
      : board_(board), index_(index), ip_(ip), servers_(std::move(servers)) {}

  void Run(const std::string& ns, PartyResult* result) {
    result->entered = EnterNamespace(ns);
    if (!result->entered || !board_->WaitFor([&] { return board_->relay_up; })) return;
    EventQueue queue;
    const RelaySession session = board_->session;
    RelayPort port(&queue, nullptr, Network{"veth", ip_}, SocketAddress(ip_, 0),
                   session.username, session.password, session.magic_cookie);
    for (ProtocolType proto : servers_) {
      port.AddServerAddress(ProtocolAddress{
          SocketAddress(kRelayIp, static_cast<uint16_t>(board_->ports[proto])), proto});
    }
    bool ready = false;
    port.AddressReady.Connect(this, [&](Port*) { ready = true; });
    port.PrepareAddress();
    result->allocated = Loop(&queue, [&] { return ready; }, 8000);
    if (!result->allocated) return;

    // A plain socket on b for the direct path, which the gateway must drop.
    std::unique_ptr<PacketSocket> direct(
        new AsyncUdpSocket(queue.hub()->CreateEventSocket(kDatagramSocket)));
    direct->Bind(SocketAddress(ip_, 0));
    direct->ReadPacket.Connect(this, [&](const char*, size_t, const SocketAddress&,
                                         PacketSocket*) { ++result->direct_received; });
    board_->Update([&] {
      board_->candidate[index_] = port.candidates().back().address;
      if (index_ == 1) board_->direct_port_b = direct->GetLocalAddress().port();
    });
    const int other = 1 - index_;
    if (!board_->WaitFor([&] { return board_->candidate[other].ip() != 0 && board_->direct_port_b; })) {
      return;
    }
    const SocketAddress peer = board_->candidate[other];
    if (index_ == 0) {
      const SocketAddress b_direct(kPartyB, board_->direct_port_b);
      for (int i = 0; i < 3; ++i) direct->SendTo("direct", 6, b_direct);
    }
    Candidate remote;
    remote.protocol = "udp";
    remote.address = peer;
    Connection* connection = port.CreateConnection(remote, ORIGIN_MESSAGE);
    connection->ReceivedPing();
    connection->PacketReceived.Connect(this, [&](Connection*, const char*, size_t) {
      ++result->received;
    });
    // Keep sending until both directions carried enough and the lock engaged, a packet
    // every 50 ms.
    for (int round = 0; round < 200; ++round) {
      const std::string payload = "packet " + std::to_string(round) + " from " +
                                  std::string(1, static_cast<char>('a' + index_));
      port.SendTo(payload.data(), payload.size(), peer, true);
      Loop(&queue, [] { return false; }, 50);
      RelayEntry* entry = nullptr;
      for (const auto& e : port.entries()) {
        if (e->destination() == peer) entry = e.get();
      }
      result->locked = entry && entry->locked();
      if (entry && port.ServerAddress(entry->server_index())) {
        result->proto = port.ServerAddress(entry->server_index())->proto;
      }
      if (result->received >= kPackets && result->locked && round >= kPackets * 2) break;
    }
    // The other side may still be waiting for packets: keep serving a little.
    Loop(&queue, [] { return false; }, 500);
  }

 private:
  Board* board_;
  int index_;
  uint32_t ip_;
  std::vector<ProtocolType> servers_;
};

TEST(RelayNatTest, PartiesBehindSymmetricNatsTalkThroughTheRelay) {
  const std::string kind = ScriptEnv("VEXALO_RELAY_NAT_KIND");
  if (kind.empty()) GTEST_SKIP() << "not behind the test NATs (run through p2p-relay-nat.sh)";
  Board board;
  std::thread relay(RunRelay, &board, ScriptEnv("VEXALO_RELAY_NS_OUT"));
  // With UDP blocked for b, its UDP entry times out and the TCP and SSL-TCP ones carry it.
  std::vector<ProtocolType> b_servers = {PROTO_UDP};
  if (kind == "udp-blocked") b_servers = {PROTO_UDP, PROTO_SSLTCP, PROTO_TCP};
  Party a(&board, 0, kPartyA, {PROTO_UDP});
  Party b(&board, 1, kPartyB, b_servers);
  PartyResult result_a;
  PartyResult result_b;
  std::thread thread_a([&] { a.Run(ScriptEnv("VEXALO_RELAY_NS_A"), &result_a); });
  std::thread thread_b([&] { b.Run(ScriptEnv("VEXALO_RELAY_NS_B"), &result_b); });
  thread_a.join();
  thread_b.join();
  board.stop = true;
  relay.join();

  ASSERT_FALSE(board.relay_failed);
  ASSERT_TRUE(result_a.entered && result_b.entered);
  ASSERT_TRUE(result_a.allocated);
  ASSERT_TRUE(result_b.allocated) << kind;
  EXPECT_GE(result_a.received, kPackets) << kind;
  EXPECT_GE(result_b.received, kPackets) << kind;
  EXPECT_TRUE(result_a.locked) << kind;
  EXPECT_TRUE(result_b.locked) << kind;
  EXPECT_EQ(result_b.direct_received, 0);
  EXPECT_EQ(result_a.proto, PROTO_UDP);
  EXPECT_EQ(result_b.proto, kind == "udp-blocked" ? PROTO_SSLTCP : PROTO_UDP);
}

// A party with a TURN relay port at coturn, which the script runs in the relay's namespace.
void RunTurnParty(Board* board, int index, uint32_t ip, const std::string& ns, PartyResult* result) {
  result->entered = EnterNamespace(ns);
  if (!result->entered) return;
  SlotHost host;
  EventQueue queue;
  const auto turn_port = static_cast<uint16_t>(std::stoi(ScriptEnv("VEXALO_TURN_PORT")));
  TurnPort port(&queue, nullptr, Network{"veth", ip}, SocketAddress(ip, 0),
                SocketAddress(kRelayIp, turn_port), "alice", "secret");
  bool ready = false;
  port.AddressReady.Connect(&host, [&](Port*) { ready = true; });
  port.PrepareAddress();
  result->allocated = Loop(&queue, [&] { return ready; }, 8000);
  if (!result->allocated) return;
  board->Update([&] { board->candidate[index] = port.relayed_address(); });
  const int other = 1 - index;
  if (!board->WaitFor([&] { return board->candidate[other].ip() != 0; })) return;
  const SocketAddress peer = board->candidate[other];
  Candidate remote;
  remote.protocol = "udp";
  remote.address = peer;
  Connection* connection = port.CreateConnection(remote, ORIGIN_MESSAGE);
  connection->ReceivedPing();
  connection->PacketReceived.Connect(&host, [&](Connection*, const char*, size_t) { ++result->received; });
  // The first sends also ask for the permission; a packet every 50 ms until both directions
  // carried enough.
  for (int round = 0; round < 200 && !(result->received >= kPackets && round >= kPackets * 2); ++round) {
    const std::string payload = "turn packet " + std::to_string(round);
    port.SendTo(payload.data(), payload.size(), peer, true);
    Loop(&queue, [] { return false; }, 50);
  }
  Loop(&queue, [] { return false; }, 500);
}

TEST(TurnNatTest, PartiesBehindSymmetricNatsTalkThroughCoturn) {
  if (ScriptEnv("VEXALO_RELAY_NAT_KIND") != "turn") {
    GTEST_SKIP() << "not behind the test NATs with coturn (run through p2p-relay-nat.sh turn)";
  }
  Board board;
  PartyResult result_a;
  PartyResult result_b;
  std::thread thread_a(RunTurnParty, &board, 0, kPartyA, ScriptEnv("VEXALO_RELAY_NS_A"), &result_a);
  std::thread thread_b(RunTurnParty, &board, 1, kPartyB, ScriptEnv("VEXALO_RELAY_NS_B"), &result_b);
  thread_a.join();
  thread_b.join();
  ASSERT_TRUE(result_a.entered && result_b.entered);
  ASSERT_TRUE(result_a.allocated && result_b.allocated);
  EXPECT_GE(result_a.received, kPackets);
  EXPECT_GE(result_b.received, kPackets);
}

}  // namespace
}  // namespace vexalo
