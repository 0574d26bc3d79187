// Threads that post to and invoke each other in tight rounds. A lost wake-up shows as a thread
// asleep with work waiting for it; the watchdog then prints every thread's state and ends the
// process, so a hang fails the run instead of stalling it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/runtime/glibqueuesource.h"
#include "base/runtime/loopthread.h"
#include "base/net/physicalsocketserver.h"

namespace vexalo {
namespace {

using Clock = std::chrono::steady_clock;

// How long each scenario runs: a short run by default, longer under the "stress" label.
std::chrono::milliseconds StressDuration() {
  const char* seconds = std::getenv("VEXALO_STRESS_SECONDS");
  double value = seconds ? std::atof(seconds) : 0;
  if (value <= 0) value = 2;
  return std::chrono::milliseconds(static_cast<int64_t>(value * 1000));
}

class FunctionTarget : public MessageTarget {
 public:
  explicit FunctionTarget(std::function<void()> fn) : fn_(std::move(fn)) {}
  void HandleMessage(QueuedMessage* msg) override {
    fn_();
    delete msg->payload;
  }

 private:
  std::function<void()> fn_;
};

// Fails the process with every thread's state when progress stops for `limit`.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit) : limit_(limit), thread_([this] { Watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  void Progress() { progress_.fetch_add(1, std::memory_order_relaxed); }
  // The threads whose state a report shows; none while they are torn down.
  void Show(std::vector<LoopThread*> threads) {
    std::lock_guard<std::mutex> hold(lock_);
    threads_ = std::move(threads);
  }

 private:
  void Watch() {
    std::unique_lock<std::mutex> hold(lock_);
    uint64_t seen = progress_.load();
    auto last_change = Clock::now();
    while (!done_) {
      changed_.wait_for(hold, std::chrono::milliseconds(100));
      uint64_t now_seen = progress_.load();
      if (now_seen != seen) {
        seen = now_seen;
        last_change = Clock::now();
      } else if (!done_ && Clock::now() - last_change > limit_) {
        Report();
        std::_Exit(1);
      }
    }
  }
  void Report() {
    std::fprintf(stderr, "watchdog: no progress for %lld s; thread states:%s\n",
                 static_cast<long long>(limit_.count()),
                 threads_.empty() ? " (stuck while stopping the threads)" : "");
    for (LoopThread* thread : threads_) {
      auto* hub = dynamic_cast<PhysicalSocketServer*>(thread->hub());
      std::fprintf(stderr, "  %s: %zu pending invocations; %s\n", thread->name().c_str(),
                   thread->PendingInvocations(),
                   hub ? hub->DescribeWakeState().c_str() : "(not a physical hub)");
    }
    std::fflush(stderr);
  }

  std::vector<LoopThread*> threads_;
  std::chrono::seconds limit_;
  std::atomic<uint64_t> progress_{0};
  std::mutex lock_;
  std::condition_variable changed_;
  bool done_ = false;
  std::thread thread_;
};

// A thread whose queue runs inside a GLib main loop, as the UI thread's does.
class GlibLoopThread {
 public:
  GlibLoopThread() {
    std::promise<LoopThread*> ready;
    thread_ = std::thread([this, &ready] {
      AdoptedThread queue;
      queue.SetName("glib");
      GMainContext* context = g_main_context_new();
      {
        GlibQueueSource source(&queue, static_cast<PhysicalSocketServer*>(queue.hub()), context);
        ready.set_value(&queue);
        while (!quit_.load()) g_main_context_iteration(context, TRUE);
      }
      g_main_context_unref(context);
    });
    queue_ = ready.get_future().get();
  }
  ~GlibLoopThread() {
    FunctionTarget quit([this] { quit_ = true; });
    queue_->Invoke(&quit);
    thread_.join();
  }
  LoopThread* queue() const { return queue_; }

 private:
  std::atomic<bool> quit_{false};
  std::thread thread_;
  LoopThread* queue_ = nullptr;
};

// A ring of `count` loop threads (the first one driven by GLib if asked). Each round the test
// posts one message to every thread; its handler invokes and posts to the next thread in the
// ring, so every thread is at once caller, callee and post receiver, and all of them invoke at
// the same moment.
void RunRing(int count, bool first_runs_glib = false) {
  // Outlives the threads, so a hang while stopping them is caught too.
  Watchdog watchdog(std::chrono::seconds(20));
  std::unique_ptr<GlibLoopThread> glib;
  std::vector<std::unique_ptr<LoopThread>> threads;
  std::vector<LoopThread*> raw;
  if (first_runs_glib) {
    glib = std::make_unique<GlibLoopThread>();
    raw.push_back(glib->queue());
  }
  while (static_cast<int>(raw.size()) < count) {
    threads.push_back(std::make_unique<LoopThread>());
    threads.back()->SetName("ring" + std::to_string(raw.size()));
    raw.push_back(threads.back().get());
  }
  watchdog.Show(raw);

  std::atomic<uint64_t> invoked{0};
  std::atomic<uint64_t> posted{0};
  std::atomic<uint64_t> rounds_done{0};
  FunctionTarget on_invoke([&] { invoked.fetch_add(1); });
  FunctionTarget on_post([&] {
    posted.fetch_add(1);
    watchdog.Progress();
  });
  std::vector<std::unique_ptr<FunctionTarget>> starters;
  for (int i = 0; i < count; ++i) {
    LoopThread* next = raw[(i + 1) % count];
    starters.push_back(std::make_unique<FunctionTarget>([&, next] {
      next->Invoke(&on_invoke);
      next->Post(&on_post);
      rounds_done.fetch_add(1);
      watchdog.Progress();
    }));
  }
  for (auto& thread : threads) ASSERT_TRUE(thread->Start());

  const auto end = Clock::now() + StressDuration();
  uint64_t rounds = 0;
  while (Clock::now() < end) {
    ++rounds;
    for (int i = 0; i < count; ++i) raw[i]->Post(starters[i].get());
    while (rounds_done.load() < rounds * count) std::this_thread::yield();
  }
  // Every post reaches its thread too: wait for the last ones.
  while (posted.load() < rounds * count) std::this_thread::yield();
  watchdog.Show({});
  for (auto& thread : threads) thread->Stop();
  glib.reset();

  EXPECT_GT(rounds, 0u);
  EXPECT_EQ(invoked.load(), rounds * count);
  EXPECT_EQ(posted.load(), rounds * count);
}

TEST(LoopThreadStressTest, TwoThreadsInvokingAndPostingToEachOther) { RunRing(2); }

TEST(LoopThreadStressTest, ThreeThreadsInvokingAndPostingInARing) { RunRing(3); }

TEST(LoopThreadStressTest, AGlibDrivenThreadAndALoopThreadInvokingEachOther) {
  RunRing(2, /*first_runs_glib=*/true);
}

}  // namespace
}  // namespace vexalo
