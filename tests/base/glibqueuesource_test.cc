#include "base/runtime/glibqueuesource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "base/runtime/loopthread.h"
#include "base/net/physicalsocketserver.h"
#include "base/runtime/threadregistry.h"

namespace vexalo {
namespace {

class FunctionTarget : public MessageTarget {
 public:
  explicit FunctionTarget(std::function<void(QueuedMessage*)> fn) : fn_(std::move(fn)) {}
  void HandleMessage(QueuedMessage* msg) override {
    fn_(msg);
    delete msg->payload;
  }

 private:
  std::function<void(QueuedMessage*)> fn_;
};

// Each test runs its own GLib context and queue, as the UI thread does with the default ones.
class GlibQueueSourceTest : public ::testing::Test {
 protected:
  GlibQueueSourceTest()
      : context_(g_main_context_new()),
        loop_(g_main_loop_new(context_, FALSE)),
        source_(&queue_, &hub_, context_) {}
  ~GlibQueueSourceTest() override {
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
  }

  // Runs the GLib loop until Quit is called from a handler (or a safety limit passes).
  void RunLoop() {
    GSource* limit = g_timeout_source_new(10000);
    g_source_set_callback(
        limit, [](gpointer loop) -> gboolean {
          g_main_loop_quit(static_cast<GMainLoop*>(loop));
          return G_SOURCE_REMOVE;
        },
        loop_, nullptr);
    g_source_attach(limit, context_);
    g_main_loop_run(loop_);
    g_source_destroy(limit);
    g_source_unref(limit);
  }
  void Quit() { g_main_loop_quit(loop_); }

  GMainContext* context_;
  GMainLoop* loop_;
  PhysicalSocketServer hub_;
  EventQueue queue_{&hub_};
  GlibQueueSource source_;
};

TEST_F(GlibQueueSourceTest, MessagePostedFromAWorkerIsDispatchedByTheMainLoop) {
  std::thread::id loop_thread = std::this_thread::get_id();
  std::thread::id ran_on;
  FunctionTarget target([&](QueuedMessage*) {
    ran_on = std::this_thread::get_id();
    Quit();
  });
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    queue_.Post(&target);
  });
  RunLoop();
  poster.join();
  EXPECT_EQ(ran_on, loop_thread);
}

TEST_F(GlibQueueSourceTest, TimedMessagesFireInOrderAndTheTimerRestsWhenNoneRemain) {
  std::vector<uint32_t> order;
  FunctionTarget target([&](QueuedMessage* msg) {
    order.push_back(msg->id);
    if (msg->id == 3) Quit();
  });
  queue_.PostAfter(30, &target, 3);
  queue_.PostAfter(10, &target, 2);
  queue_.Post(&target, 1);
  RunLoop();
  EXPECT_EQ(order, (std::vector<uint32_t>{1, 2, 3}));
  EXPECT_EQ(queue_.NextDelay(), kWaitForever);
  // Nothing is due: the source's timer and descriptor rest.
  g_main_context_iteration(context_, FALSE);
  EXPECT_FALSE(g_main_context_pending(context_));
}

TEST_F(GlibQueueSourceTest, ASelfRepostingHandlerDoesNotStarveOtherSources) {
  int reposts = 0;
  bool idle_ran = false;
  MessageTarget* self = nullptr;
  FunctionTarget target([&](QueuedMessage*) {
    ++reposts;
    if (!idle_ran) queue_.Post(self);
  });
  self = &target;
  // A toolkit event source at the same (default) priority as the queue's.
  GSource* idle = g_idle_source_new();
  g_source_set_priority(idle, G_PRIORITY_DEFAULT);
  g_source_set_callback(
      idle, [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &idle_ran, nullptr);
  g_source_attach(idle, context_);
  g_source_unref(idle);
  queue_.Post(&target);
  for (int i = 0; i < 10000 && !idle_ran; ++i) g_main_context_iteration(context_, TRUE);
  EXPECT_TRUE(idle_ran);
  EXPECT_GE(reposts, 1);
  queue_.Clear(nullptr);
}

TEST_F(GlibQueueSourceTest, StoppedQueueDoesNotSpinTheLoop) {
  FunctionTarget target([](QueuedMessage*) {});
  queue_.Post(&target);
  queue_.Stop();
  // The wake-up is consumed once; afterwards an iteration finds nothing to do.
  g_main_context_iteration(context_, FALSE);
  g_main_context_iteration(context_, FALSE);
  EXPECT_FALSE(g_main_context_pending(context_));
  queue_.Restart();
  queue_.Clear(nullptr);
}

TEST(GlibMainThreadTest, TheDefaultMainContextRunsTheMainThreadsQueue) {
  auto source = GlibQueueSource::ForMainThread();
  ASSERT_NE(source, nullptr);
  LoopThread* main_thread = ThreadRegistry::Instance().MainThread();
  ASSERT_TRUE(main_thread->IsCurrent());
  std::atomic<bool> ran{false};
  FunctionTarget target([&](QueuedMessage*) { ran = true; });
  std::thread poster([&] { main_thread->Post(&target); });
  poster.join();
  for (int i = 0; i < 100 && !ran; ++i) g_main_context_iteration(nullptr, TRUE);
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace vexalo
