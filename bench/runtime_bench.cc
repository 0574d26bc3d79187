// The runtime's message queues side by side with GLib's main loop on the same machine.
#include <benchmark/benchmark.h>
#include <glib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "base/runtime/eventqueue.h"
#include "base/runtime/logging.h"
#include "base/runtime/loopthread.h"
#include "base/net/physicalsocketserver.h"
#include "base/runtime/threadregistry.h"

namespace vexalo {
namespace {

using Clock = std::chrono::steady_clock;

class NullTarget : public MessageTarget {
 public:
  void HandleMessage(QueuedMessage*) override { benchmark::ClobberMemory(); }
};

// Same thread: post one message without payload, take it out and dispatch it.
void BM_QueuePostDispatch(benchmark::State& state) {
  EventQueue queue;
  NullTarget target;
  QueuedMessage msg;
  for (auto _ : state) {
    queue.Post(&target);
    queue.Get(&msg, 0);
    queue.Dispatch(&msg);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueuePostDispatch);

gboolean CountCall(gpointer counter) {
  ++*static_cast<int64_t*>(counter);
  return G_SOURCE_REMOVE;
}

// The same work with GLib: g_main_context_invoke on a context this thread does not own queues
// an idle source, and one iteration dispatches it.
void BM_GlibInvokeIteration(benchmark::State& state) {
  GMainContext* context = g_main_context_new();
  int64_t calls = 0;
  for (auto _ : state) {
    g_main_context_invoke(context, CountCall, &calls);
    g_main_context_iteration(context, FALSE);
  }
  if (calls != static_cast<int64_t>(state.iterations())) state.SkipWithError("lost calls");
  g_main_context_unref(context);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GlibInvokeIteration);

// Median and 99th percentile of a set of latencies, as counters in microseconds.
void ReportLatencies(benchmark::State& state, std::vector<double>* micros) {
  if (micros->empty()) return;
  std::sort(micros->begin(), micros->end());
  state.counters["p50_us"] = (*micros)[micros->size() / 2];
  state.counters["p99_us"] = (*micros)[micros->size() * 99 / 100];
}

class StampTarget : public MessageTarget {
 public:
  void HandleMessage(QueuedMessage*) override {
    handled_at = Clock::now();
    handled.store(true, std::memory_order_release);
  }
  Clock::time_point handled_at;
  std::atomic<bool> handled{false};
};

// Another thread posts to a LoopThread that is blocked waiting; measured until HandleMessage.
void BM_CrossThreadPostLatency(benchmark::State& state) {
  LoopThread worker;
  worker.Start();
  StampTarget target;
  std::vector<double> micros;
  for (auto _ : state) {
    // Give the worker time to go back to sleep, so each post really wakes it.
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    target.handled.store(false);
    Clock::time_point posted = Clock::now();
    worker.Post(&target);
    while (!target.handled.load(std::memory_order_acquire)) {
    }
    double us = std::chrono::duration<double, std::micro>(target.handled_at - posted).count();
    micros.push_back(us);
    state.SetIterationTime(us / 1e6);
  }
  ReportLatencies(state, &micros);
}
BENCHMARK(BM_CrossThreadPostLatency)->UseManualTime()->Iterations(2000);

// GLib's counterpart: g_main_context_invoke to a thread blocked in its main loop.
void BM_GlibCrossThreadInvokeLatency(benchmark::State& state) {
  GMainContext* context = g_main_context_new();
  GMainLoop* loop = g_main_loop_new(context, FALSE);
  std::thread runner([&] {
    g_main_context_push_thread_default(context);
    g_main_loop_run(loop);
    g_main_context_pop_thread_default(context);
  });
  while (!g_main_loop_is_running(loop)) std::this_thread::yield();
  StampTarget stamp;
  auto handler = [](gpointer data) -> gboolean {
    auto* target = static_cast<StampTarget*>(data);
    target->handled_at = Clock::now();
    target->handled.store(true, std::memory_order_release);
    return G_SOURCE_REMOVE;
  };
  std::vector<double> micros;
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    stamp.handled.store(false);
    Clock::time_point posted = Clock::now();
    g_main_context_invoke(context, handler, &stamp);
    while (!stamp.handled.load(std::memory_order_acquire)) {
    }
    double us = std::chrono::duration<double, std::micro>(stamp.handled_at - posted).count();
    micros.push_back(us);
    state.SetIterationTime(us / 1e6);
  }
  ReportLatencies(state, &micros);
  g_main_context_invoke(
      context,
      [](gpointer l) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(l));
        return G_SOURCE_REMOVE;
      },
      loop);
  runner.join();
  g_main_loop_unref(loop);
  g_main_context_unref(context);
}
BENCHMARK(BM_GlibCrossThreadInvokeLatency)->UseManualTime()->Iterations(2000);

class EchoTarget : public MessageTarget {
 public:
  void HandleMessage(QueuedMessage* msg) override { benchmark::DoNotOptimize(msg->id); }
};

// A synchronous Invoke from the main thread to a waiting LoopThread and back.
void BM_InvokeRoundTrip(benchmark::State& state) {
  LoopThread worker;
  worker.Start();
  EchoTarget target;
  for (auto _ : state) worker.Invoke(&target, 1);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InvokeRoundTrip)->UseRealTime();

// A log statement below the threshold: one integer comparison, nothing built.
void BM_LogBelowThreshold(benchmark::State& state) {
  ResetLogging();
  int value = 0;
  for (auto _ : state) {
    LOG(kVerbose) << "value " << value << " of " << state.iterations();
    benchmark::DoNotOptimize(++value);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogBelowThreshold);

}  // namespace
}  // namespace vexalo

BENCHMARK_MAIN();
