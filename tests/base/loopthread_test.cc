#include "base/runtime/loopthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "base/runtime/threadregistry.h"

namespace vexalo {
namespace {

// Runs a function given at construction on whatever thread handles its message.
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

// A gate a loop thread can be parked on while the test arranges pending work.
class Gate {
 public:
  void Wait() {
    std::unique_lock<std::mutex> hold(lock_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait(hold, [this] { return open_; });
  }
  void WaitUntilEntered() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return entered_; });
  }
  void Open() {
    std::lock_guard<std::mutex> hold(lock_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool entered_ = false;
  bool open_ = false;
};

TEST(LoopThreadTest, MainThreadIsRegisteredAndCurrent) {
  LoopThread* main_thread = ThreadRegistry::Instance().MainThread();
  ASSERT_NE(main_thread, nullptr);
  EXPECT_EQ(ThreadRegistry::Current(), main_thread);
  EXPECT_TRUE(main_thread->IsCurrent());
}

TEST(LoopThreadTest, PostFromAnotherThreadRunsOnTheLoopThread) {
  LoopThread worker;
  ASSERT_TRUE(worker.Start());
  std::promise<LoopThread*> ran_on;
  FunctionTarget target([&](QueuedMessage*) { ran_on.set_value(ThreadRegistry::Current()); });
  worker.Post(&target);
  EXPECT_EQ(ran_on.get_future().get(), &worker);
  worker.Stop();
  EXPECT_FALSE(worker.IsStarted());
}

TEST(LoopThreadTest, InvokeRunsOnTheTargetThreadAndWaitsForIt) {
  LoopThread worker;
  worker.Start();
  std::thread::id ran_on;
  int result = 0;
  FunctionTarget target([&](QueuedMessage* msg) {
    ran_on = std::this_thread::get_id();
    result = static_cast<MessageData<int>*>(msg->payload)->value() * 2;
  });
  worker.Invoke(&target, 0, new MessageData<int>(21));
  EXPECT_EQ(result, 42);
  EXPECT_NE(ran_on, std::this_thread::get_id());
}

TEST(LoopThreadTest, InvokeOnTheOwnThreadRunsAtOnce) {
  LoopThread* self = ThreadRegistry::Current();
  bool ran = false;
  FunctionTarget target([&](QueuedMessage*) { ran = true; });
  self->Invoke(&target);  // no loop is running: it must not wait for one
  EXPECT_TRUE(ran);
}

TEST(LoopThreadTest, ThreadsThatInvokeEachOtherDoNotDeadlock) {
  LoopThread first, second;
  first.SetName("first");
  second.SetName("second");
  first.Start();
  second.Start();

  std::atomic<int> depth{0};
  std::unique_ptr<FunctionTarget> on_first, on_second;
  // first -> second -> first -> second ... a few levels deep, each waiting on the other.
  on_first = std::make_unique<FunctionTarget>([&](QueuedMessage*) {
    EXPECT_TRUE(first.IsCurrent());
    if (++depth < 6) second.Invoke(on_second.get());
  });
  on_second = std::make_unique<FunctionTarget>([&](QueuedMessage*) {
    EXPECT_TRUE(second.IsCurrent());
    if (++depth < 6) first.Invoke(on_first.get());
  });
  first.Invoke(on_first.get());
  EXPECT_EQ(depth.load(), 6);
}

TEST(LoopThreadTest, SimultaneousCrossInvokesBothComplete) {
  LoopThread first, second;
  first.Start();
  second.Start();
  std::atomic<int> served{0};
  std::atomic<int> rounds_done{0};
  FunctionTarget count([&](QueuedMessage*) { ++served; });
  // Each thread invokes the other at the same moment; both must get through.
  FunctionTarget on_first([&](QueuedMessage*) {
    second.Invoke(&count);
    ++rounds_done;
  });
  FunctionTarget on_second([&](QueuedMessage*) {
    first.Invoke(&count);
    ++rounds_done;
  });
  for (int round = 1; round <= 50; ++round) {
    first.Post(&on_first);
    second.Post(&on_second);
    while (rounds_done.load() < 2 * round) std::this_thread::yield();
  }
  EXPECT_EQ(served.load(), 100);
}

TEST(LoopThreadTest, DestroyingTheTargetReleasesABlockedInvoke) {
  LoopThread worker;
  worker.Start();
  Gate gate;
  FunctionTarget blocker([&](QueuedMessage*) { gate.Wait(); });
  worker.Post(&blocker);
  gate.WaitUntilEntered();  // the worker is busy: invocations stay pending

  std::atomic<bool> ran{false};
  auto target = std::make_unique<FunctionTarget>([&](QueuedMessage*) { ran = true; });
  std::promise<void> invoking;
  std::thread caller([&] {
    invoking.set_value();
    worker.Invoke(target.get(), 0, new MessageData<int>(1));
  });
  invoking.get_future().wait();
  // Let the caller queue its invocation, then destroy the target under it.
  while (worker.PendingInvocations() == 0) std::this_thread::yield();
  target.reset();
  caller.join();  // released without the call having run
  EXPECT_FALSE(ran);
  gate.Open();
}

TEST(LoopThreadTest, AWaitingInvocationMakesWorkDueAtOnce) {
  // A main loop that drains with zero waits relies on NextDelay to come back for work whose
  // wake-up it has already consumed.
  LoopThread idle;  // never started: the invocation waits until the test serves it
  EXPECT_EQ(idle.NextDelay(), kWaitForever);
  bool ran = false;
  FunctionTarget target([&](QueuedMessage*) { ran = true; });
  std::thread caller([&] { idle.Invoke(&target); });
  while (idle.PendingInvocations() == 0) std::this_thread::yield();
  EXPECT_EQ(idle.NextDelay(), 0);
  idle.ServeInvocations();
  caller.join();
  EXPECT_TRUE(ran);
  EXPECT_EQ(idle.NextDelay(), kWaitForever);
}

TEST(LoopThreadTest, DestroyedTargetMissesPostedTimedAndInvokedMessages) {
  LoopThread worker;
  worker.Start();
  Gate gate;
  FunctionTarget blocker([&](QueuedMessage*) { gate.Wait(); });
  worker.Post(&blocker);
  gate.WaitUntilEntered();

  std::atomic<int> calls{0};
  auto target = std::make_unique<FunctionTarget>([&](QueuedMessage*) { ++calls; });
  worker.Post(target.get(), 1);
  worker.PostAfter(0, target.get(), 2);
  worker.PostAfter(10, target.get(), 3);
  target.reset();
  gate.Open();
  // A message behind them proves the queue has moved past where they were.
  std::promise<void> flushed;
  FunctionTarget marker([&](QueuedMessage*) { flushed.set_value(); });
  worker.PostAfter(30, &marker);
  flushed.get_future().wait();
  EXPECT_EQ(calls.load(), 0);
}

TEST(LoopThreadTest, DestroyingTheThreadReleasesPendingInvocations) {
  auto worker = std::make_unique<LoopThread>();
  worker->Start();
  Gate gate;
  FunctionTarget blocker([&](QueuedMessage*) { gate.Wait(); });
  worker->Post(&blocker);
  gate.WaitUntilEntered();

  std::atomic<bool> ran{false};
  std::atomic<bool> returned{false};
  FunctionTarget target([&](QueuedMessage*) { ran = true; });
  LoopThread* raw = worker.get();
  std::thread caller([&] {
    raw->Invoke(&target);
    returned = true;
  });
  while (raw->PendingInvocations() == 0) std::this_thread::yield();
  // Stop: the worker ends after the blocker; the destructor releases the invocation if the
  // loop did not serve it first. Either way the caller must come back.
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    gate.Open();
  });
  worker.reset();
  caller.join();
  opener.join();
  EXPECT_TRUE(returned);
}

TEST(LoopThreadTest, PlainThreadCanInvokeThroughAnAdoptedThread) {
  LoopThread worker;
  worker.Start();
  int result = 0;
  FunctionTarget target([&](QueuedMessage*) { result = 5; });
  LoopThread* current_during = reinterpret_cast<LoopThread*>(1);
  std::thread plain([&] {
    worker.Invoke(&target);
    current_during = ThreadRegistry::Current();
  });
  plain.join();
  EXPECT_EQ(result, 5);
  EXPECT_EQ(current_during, nullptr);  // the temporary adoption ended with the call
}

TEST(LoopThreadTest, AdoptedThreadBecomesCurrentOnlyWhenThereIsNone) {
  std::thread plain([] {
    EXPECT_EQ(ThreadRegistry::Current(), nullptr);
    {
      AdoptedThread adopted;
      EXPECT_EQ(ThreadRegistry::Current(), &adopted);
      AdoptedThread nested;
      EXPECT_EQ(ThreadRegistry::Current(), &adopted);
    }
    EXPECT_EQ(ThreadRegistry::Current(), nullptr);
  });
  plain.join();
}

TEST(LoopThreadTest, RunForReturnsAfterItsTime) {
  std::thread plain([] {
    AdoptedThread adopted;
    int handled = 0;
    FunctionTarget target([&](QueuedMessage*) { ++handled; });
    adopted.Post(&target);
    adopted.PostAfter(5, &target);
    adopted.RunFor(50);
    EXPECT_EQ(handled, 2);
  });
  plain.join();
}

TEST(LoopThreadTest, ThreadCanBeStoppedAndStartedAgain) {
  LoopThread worker;
  std::atomic<int> handled{0};
  FunctionTarget target([&](QueuedMessage*) { ++handled; });
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(worker.Start());
    worker.Invoke(&target);
    worker.Stop();
  }
  EXPECT_EQ(handled.load(), 3);
}

}  // namespace
}  // namespace vexalo
