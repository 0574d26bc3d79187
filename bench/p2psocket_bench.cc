// Time from candidates exchanged to writable on loopback: two of our P2P sockets against two
// libnice agents (standard ICE, the installed package) in the same run, both pacing their
// checks at 48 ms. Real clocks on both sides; each iteration starts from fresh ports. Once
// writable, each side sends a burst of packets and the share that arrives is the "delivered"
// counter. bench/p2p_lossy.sh runs this in a namespace whose loopback drops 5% or 20% of UDP.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include "base/runtime/eventqueue.h"
#include "p2p/client/p2psocket.h"
#include "support/loopbackallocator.h"

#ifdef VEXALO_HAVE_NICE
extern "C" {
#include <agent.h>
}
#endif

namespace vexalo {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBurstPackets = 100;
constexpr char kPayload[160] = {};

void BM_OursTimeToWritable(benchmark::State& state) {
  EventQueue queue;
  double delivered = 0;
  for (auto _ : state) {
    LoopbackAllocator alloc_a(&queue);
    LoopbackAllocator alloc_b(&queue);
    P2PSocket a("rtp", &alloc_a, &queue);
    P2PSocket b("rtp", &alloc_b, &queue);
    SlotHost host;
    std::vector<Candidate> from_a;
    std::vector<Candidate> from_b;
    for (P2PSocket* s : {&a, &b}) {
      s->RequestSignaling.Connect(&host, [](P2PSocket* socket) { socket->OnSignalingReady(); });
    }
    a.CandidatesReady.Connect(&host, [&](P2PSocket*, const std::vector<Candidate>& c) {
      from_a.insert(from_a.end(), c.begin(), c.end());
    });
    b.CandidatesReady.Connect(&host, [&](P2PSocket*, const std::vector<Candidate>& c) {
      from_b.insert(from_b.end(), c.begin(), c.end());
    });
    a.Connect();
    b.Connect();
    QueuedMessage msg;
    // Gathering is not timed, and the ping ticks run for a while first so that the exchange
    // meets them at an arbitrary phase, as it does in a real session.
    const auto settle = Clock::now() + std::chrono::milliseconds(70);
    while (Clock::now() < settle) {
      if (queue.Get(&msg, 1)) queue.Dispatch(&msg);
    }
    const auto start = Clock::now();
    a.OnRemoteCandidates(from_b);
    b.OnRemoteCandidates(from_a);
    a.CandidatesReady.Connect(&host, [&](P2PSocket*, const std::vector<Candidate>& c) {
      b.OnRemoteCandidates(c);
    });
    b.CandidatesReady.Connect(&host, [&](P2PSocket*, const std::vector<Candidate>& c) {
      a.OnRemoteCandidates(c);
    });
    while (!(a.IsWritable() && b.IsWritable())) {
      if (queue.Get(&msg, 5)) queue.Dispatch(&msg);
      if (Clock::now() - start > std::chrono::seconds(10)) {
        state.SkipWithError("never writable");
        return;
      }
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    int received = 0;
    a.PacketReceived.Connect(&host, [&](P2PSocket*, const char*, size_t) { ++received; });
    b.PacketReceived.Connect(&host, [&](P2PSocket*, const char*, size_t) { ++received; });
    for (int i = 0; i < kBurstPackets; ++i) {
      a.Send(kPayload, sizeof(kPayload));
      b.Send(kPayload, sizeof(kPayload));
      if (queue.Get(&msg, 0)) queue.Dispatch(&msg);
    }
    const auto drain = Clock::now() + std::chrono::milliseconds(50);
    while (Clock::now() < drain) {
      if (queue.Get(&msg, 1)) queue.Dispatch(&msg);
    }
    delivered += static_cast<double>(received) / (2 * kBurstPackets);
  }
  state.counters["delivered"] = delivered / static_cast<double>(state.iterations());
}
BENCHMARK(BM_OursTimeToWritable)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

#ifdef VEXALO_HAVE_NICE
struct NiceSide {
  NiceAgent* agent = nullptr;
  guint stream = 0;
  bool ready = false;
  bool failed = false;
  bool gathered = false;
};

void OnGathered(NiceAgent*, guint, gpointer data) { static_cast<NiceSide*>(data)->gathered = true; }
void OnState(NiceAgent*, guint, guint, guint state, gpointer data) {
  if (state == NICE_COMPONENT_STATE_READY) static_cast<NiceSide*>(data)->ready = true;
  if (state == NICE_COMPONENT_STATE_FAILED) static_cast<NiceSide*>(data)->failed = true;
}
int nice_received = 0;
void OnRecv(NiceAgent*, guint, guint, guint, gchar*, gpointer) { ++nice_received; }

void MakeSide(GMainContext* context, NiceSide* side, bool controlling) {
  side->agent = nice_agent_new(context, NICE_COMPATIBILITY_RFC5245);
  g_object_set(side->agent, "controlling-mode", controlling, "stun-pacing-timer", 48u,
               "ice-tcp", FALSE, "upnp", FALSE, nullptr);
  NiceAddress address;
  nice_address_init(&address);
  nice_address_set_from_string(&address, "127.0.0.1");
  nice_agent_add_local_address(side->agent, &address);
  side->stream = nice_agent_add_stream(side->agent, 1);
  g_signal_connect(side->agent, "candidate-gathering-done", G_CALLBACK(OnGathered), side);
  g_signal_connect(side->agent, "component-state-changed", G_CALLBACK(OnState), side);
  nice_agent_attach_recv(side->agent, side->stream, 1, context, OnRecv, nullptr);
  nice_agent_gather_candidates(side->agent, side->stream);
}

void Introduce(NiceSide* to, NiceSide* from) {
  gchar* ufrag = nullptr;
  gchar* pwd = nullptr;
  nice_agent_get_local_credentials(from->agent, from->stream, &ufrag, &pwd);
  nice_agent_set_remote_credentials(to->agent, to->stream, ufrag, pwd);
  g_free(ufrag);
  g_free(pwd);
  GSList* candidates = nice_agent_get_local_candidates(from->agent, from->stream, 1);
  nice_agent_set_remote_candidates(to->agent, to->stream, 1, candidates);
  g_slist_free_full(candidates, reinterpret_cast<GDestroyNotify>(nice_candidate_free));
}

void BM_LibniceTimeToWritable(benchmark::State& state) {
  GMainContext* context = g_main_context_new();
  double delivered = 0;
  int failures = 0;
  double ready_seconds = 0;
  for (auto _ : state) {
    NiceSide a;
    NiceSide b;
    MakeSide(context, &a, true);
    MakeSide(context, &b, false);
    while (!(a.gathered && b.gathered)) g_main_context_iteration(context, TRUE);
    const auto start = Clock::now();
    Introduce(&a, &b);
    Introduce(&b, &a);
    // Under loss an agent may give up on its only pair: counted, not timed.
    while (!(a.ready && b.ready) && !a.failed && !b.failed &&
           Clock::now() - start < std::chrono::seconds(10)) {
      g_main_context_iteration(context, FALSE);
      g_usleep(200);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (a.ready && b.ready) {
      ready_seconds += seconds;
    } else {
      ++failures;
    }
    state.SetIterationTime(seconds);
    nice_received = 0;
    for (int i = 0; i < kBurstPackets; ++i) {
      nice_agent_send(a.agent, a.stream, 1, sizeof(kPayload), kPayload);
      nice_agent_send(b.agent, b.stream, 1, sizeof(kPayload), kPayload);
      g_main_context_iteration(context, FALSE);
    }
    const auto drain = Clock::now() + std::chrono::milliseconds(50);
    while (Clock::now() < drain) {
      if (!g_main_context_iteration(context, FALSE)) g_usleep(200);
    }
    delivered += static_cast<double>(nice_received) / (2 * kBurstPackets);
    g_object_unref(a.agent);
    g_object_unref(b.agent);
    while (g_main_context_iteration(context, FALSE)) {
    }
  }
  g_main_context_unref(context);
  state.counters["delivered"] = delivered / static_cast<double>(state.iterations());
  state.counters["failed"] = failures;
  // The time of the iterations that did become ready, in ms.
  if (failures < state.iterations()) {
    state.counters["ready_ms"] =
        1000 * ready_seconds / static_cast<double>(state.iterations() - failures);
  }
}
BENCHMARK(BM_LibniceTimeToWritable)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);
#endif

}  // namespace
}  // namespace vexalo

BENCHMARK_MAIN();
