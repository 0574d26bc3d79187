// The NAT matrix: two P2P sockets with the application's allocator (STUN from coturn, relay
// sessions from our relay over HTTP), each behind its own kind of NAT. Run through
// tests/scripts/p2p-nat-matrix.sh, which makes the namespaces; each party and the relay run
// on a thread of their own inside their namespace, and the candidates travel between the
// threads as signalling would carry them.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "p2p/client/httpportallocator.h"
#include "p2p/client/p2psocket.h"
#include "relayd/relayserver.h"
#include "relayd/relaysessionendpoint.h"
#include "relayd/relaysessionstore.h"
#include "support/netns.h"
#include "support/threadboard.h"

namespace vexalo {
namespace {

constexpr uint32_t kServerIp = 0xC6130101;  // 198.19.1.1
constexpr uint16_t kStunPort = 3478;
constexpr char kToken[] = "token-for-the-nat-matrix";
constexpr int kWritableLimitMs = 15000;
constexpr int kPacketIntervalMs = 20;
constexpr int kPacketsSent = 100;

// What the threads tell each other: the relay's session port, and each party's candidates
// and progress.
struct Board : ThreadBoard {
  bool server_up = false;
  bool server_failed = false;
  int endpoint_port = 0;
  std::vector<Candidate> inbox[2];
  std::atomic<bool> finished[2] = {false, false};
  std::atomic<bool> stop{false};
  // Milliseconds on the shared clock when the direct path was cut, -1 before.
  std::atomic<int64_t> cut_at_ms{-1};
  const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

  int64_t NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
  }
};

void Pump(EventQueue* queue, int ms) {
  QueuedMessage msg;
  while (queue->Get(&msg, 0)) queue->Dispatch(&msg);
  queue->hub()->Wait(ms, true);
  while (queue->Get(&msg, 0)) queue->Dispatch(&msg);
}

void RunServer(Board* board, const std::string& ns) {
  if (!EnterNamespace(ns)) {
    board->Update([&] { board->server_failed = true; });
    return;
  }
  EventQueue queue;
  RelayLimits limits;
  RelaySessionStore sessions(limits.max_sessions, limits.session_lifetime_ms);
  RelayServer server(&queue, &sessions, limits);
  if (!server.Start(kServerIp, 0, 0, 0, 0)) {
    board->Update([&] { board->server_failed = true; });
    return;
  }
  RelayAnnouncement announcement;
  announcement.relay_ip = "198.19.1.1";
  announcement.udp_port = server.udp_port();
  announcement.tcp_port = server.tcp_port();
  announcement.ssltcp_port = server.ssltcp_port();
  RelaySessionEndpoint endpoint(&queue, &sessions, kToken, announcement);
  if (!endpoint.Start(kServerIp, 0)) {
    board->Update([&] { board->server_failed = true; });
    return;
  }
  board->Update([&] {
    board->endpoint_port = endpoint.port();
    board->server_up = true;
  });
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!board->stop && std::chrono::steady_clock::now() < end) Pump(&queue, 10);
}

struct PartyResult {
  bool entered = false;
  int64_t writable_ms = -1;  // from the first candidates received
  int received = 0;
  int sent = 0;
  int switches_after_writable = 0;
  int unwritable_spells = 0;
  int64_t resumed_ms = -1;  // from the cut to the first packet sent after it arriving
  std::string local_type, local_protocol, remote_type, remote_protocol, remote_address;
};

class Party : public SlotHost {
 public:
  // `cut`: the command that cuts the direct path, run by party a once packets flow.
  Party(Board* board, int index, std::string cut = "")
      : board_(board), index_(index), cut_(std::move(cut)) {}

  void Run(const std::string& ns, PartyResult* result) {
    result->entered = EnterNamespace(ns);
    if (!result->entered ||
        !board_->WaitFor([&] { return board_->server_up || board_->server_failed; }, 10000) ||
        board_->server_failed) {
      return;
    }
    EventQueue queue;
    HTTPPortAllocator allocator(&queue, {SocketAddress(kServerIp, kStunPort)}, {"198.19.1.1"});
    allocator.SetRelayToken(kToken);
    allocator.SetSessionType("http://www.example.net/session/phone");
    allocator.SetRelaySessionEndpoint(false, static_cast<uint16_t>(board_->endpoint_port));
    P2PSocket socket("rtp", &allocator, &queue);
    const int other = 1 - index_;
    socket.RequestSignaling.Connect(this, [](P2PSocket* s) { s->OnSignalingReady(); });
    socket.CandidatesReady.Connect(this, [&](P2PSocket*, const std::vector<Candidate>& cs) {
      board_->Update(
          [&] { board_->inbox[other].insert(board_->inbox[other].end(), cs.begin(), cs.end()); });
    });
    socket.PacketReceived.Connect(this, [&](P2PSocket*, const char* data, size_t size) {
      ++result->received;
      // "packet N at MS": packets sent after the cut tell when the new path carries.
      const std::string text(data, size);
      const size_t at = text.find(" at ");
      const int64_t cut = board_->cut_at_ms;
      if (at != std::string::npos && cut >= 0 && result->resumed_ms < 0 &&
          std::stoll(text.substr(at + 4)) > cut) {
        result->resumed_ms = board_->NowMs() - cut;
      }
    });
    socket.BestConnectionChanged.Connect(this, [&](P2PSocket*, const SocketAddress&) {
      if (result->writable_ms >= 0) ++result->switches_after_writable;
    });
    socket.StateChanged.Connect(this, [&](P2PSocket*, P2PSocket::State state) {
      if (state == P2PSocket::STATE_CONNECTING && result->writable_ms >= 0) {
        ++result->unwritable_spells;
      }
    });
    socket.Connect();

    const auto start = std::chrono::steady_clock::now();
    auto elapsed_ms = [&] {
      return std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::steady_clock::now() - start)
          .count();
    };
    int64_t first_candidates_ms = -1;
    int64_t next_send_ms = 0;
    while (!board_->stop && elapsed_ms() < kWritableLimitMs + 10000) {
      std::vector<Candidate> arrived;
      board_->Update([&] { arrived.swap(board_->inbox[index_]); });
      if (!arrived.empty()) {
        if (first_candidates_ms < 0) first_candidates_ms = elapsed_ms();
        socket.OnRemoteCandidates(arrived);
      }
      Pump(&queue, 5);
      if (result->writable_ms < 0 && socket.IsWritable()) {
        result->writable_ms = elapsed_ms() - std::max<int64_t>(first_candidates_ms, 0);
      }
      if (result->writable_ms < 0 && elapsed_ms() > kWritableLimitMs) break;
      if (result->writable_ms >= 0 && result->sent < kPacketsSent && elapsed_ms() >= next_send_ms) {
        const std::string payload =
            "packet " + std::to_string(result->sent) + " at " + std::to_string(board_->NowMs());
        if (socket.Send(payload.data(), payload.size()) > 0) ++result->sent;
        next_send_ms = elapsed_ms() + kPacketIntervalMs;
      }
      if (!cut_.empty() && result->sent == kPacketsSent / 4 && board_->cut_at_ms < 0) {
        // The clock starts once the rule is in: what was sent while it was being added may
        // still have passed.
        if (std::system(cut_.c_str()) != 0) ADD_FAILURE() << "cutting failed: " << cut_;
        board_->cut_at_ms = board_->NowMs();
      }
      if (result->sent >= kPacketsSent) board_->finished[index_] = true;
      if (board_->finished[0] && board_->finished[1]) {
        // The last packets of the other side may still be on the way.
        for (int i = 0; i < 40; ++i) Pump(&queue, 5);
        break;
      }
    }
    if (Connection* best = socket.best_connection()) {
      result->local_type = best->LocalCandidate().type;
      result->local_protocol = best->LocalCandidate().protocol;
      result->remote_type = best->remote_candidate().type;
      result->remote_protocol = best->remote_candidate().protocol;
      result->remote_address = best->remote_candidate().address.ToString();
    }
    board_->finished[index_] = true;
  }

 private:
  Board* board_;
  int index_;
  std::string cut_;
};

// What each row must show: whether the relay carries the call (at the end), the least share
// of the packets that must arrive, and how often the best connection may change and the socket
// stop being writable once it was.
struct Row {
  bool relayed;
  double delivered;
  int max_switches = 1;
  int max_unwritable = 0;
};

const std::map<std::string, Row>& Rows() {
  static const std::map<std::string, Row> rows = {
      {"open", {false, 1.0}},
      {"full-cone", {false, 1.0}},
      {"port-restricted", {false, 1.0}},
      {"symmetric-one", {false, 1.0}},
      {"symmetric-both", {true, 1.0}},
      {"udp-blocked", {true, 1.0}},
      // Loss on a's gateway only, each way: what arrives is what the link lets through.
      {"lossy-5", {false, 0.8}},
      {"lossy-20", {false, 0.55}},
      {"delayed", {false, 1.0}},
      // The direct path dies a quarter of the way in: what was sent on it until the loss was
      // known is gone, and the relay, gathered anew, carries the rest.
      // How much gets through depends on how soon the relay is ready; that it flows is the point.
      {"cut-direct", {true, 0.15, 2, 1}},
  };
  return rows;
}

TEST(NatMatrixTest, PartiesFindAPathAndPassPacketsBothWays) {
  const std::string row_name = ScriptEnv("VEXALO_NAT_ROW");
  if (row_name.empty()) GTEST_SKIP() << "not behind the test NATs (run through p2p-nat-matrix.sh)";
  ASSERT_TRUE(Rows().count(row_name)) << row_name;
  const Row& row = Rows().at(row_name);
  Board board;
  std::thread server(RunServer, &board, ScriptEnv("VEXALO_NAT_NS_NET"));
  Party a(&board, 0, ScriptEnv("VEXALO_NAT_CUT"));
  Party b(&board, 1);
  PartyResult result[2];
  std::thread thread_a([&] { a.Run(ScriptEnv("VEXALO_NAT_NS_A"), &result[0]); });
  std::thread thread_b([&] { b.Run(ScriptEnv("VEXALO_NAT_NS_B"), &result[1]); });
  thread_a.join();
  thread_b.join();
  board.stop = true;
  server.join();

  ASSERT_FALSE(board.server_failed);
  for (int i = 0; i < 2; ++i) {
    const PartyResult& r = result[i];
    const char* side = i == 0 ? "a" : "b";
    ASSERT_TRUE(r.entered);
    ASSERT_GE(r.writable_ms, 0) << side << " never became writable in " << row_name;
    const bool relayed = r.local_type == "relay" || r.remote_type == "relay";
    EXPECT_EQ(relayed, row.relayed) << side << ": " << r.local_type << "/" << r.local_protocol
                                    << " -> " << r.remote_type << "/" << r.remote_protocol;
    EXPECT_EQ(r.sent, kPacketsSent) << side;
    // Each side counts what the other sent.
    EXPECT_GE(r.received, static_cast<int>(row.delivered * kPacketsSent)) << side;
    EXPECT_LE(r.unwritable_spells, row.max_unwritable) << side << " lost the writable state";
    EXPECT_LE(r.switches_after_writable, row.max_switches) << side << " flapped";
    if (board.cut_at_ms >= 0) {
      EXPECT_GE(r.resumed_ms, 0) << side << " got nothing after the cut";
      std::printf("%s %s: packets flow again %lld ms after the cut\n", row_name.c_str(), side,
                  static_cast<long long>(r.resumed_ms));
    }
    std::printf("%s %s: writable after %lld ms, %s/%s -> %s/%s %s, received %d/%d, switches %d\n",
                row_name.c_str(), side, static_cast<long long>(r.writable_ms), r.local_type.c_str(),
                r.local_protocol.c_str(), r.remote_type.c_str(), r.remote_protocol.c_str(),
                r.remote_address.c_str(), r.received, kPacketsSent, r.switches_after_writable);
  }
}

}  // namespace
}  // namespace vexalo
