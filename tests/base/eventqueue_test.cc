#include "base/runtime/eventqueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "base/net/physicalsocketserver.h"

namespace vexalo {
namespace {

// Counts live payloads so tests can see that discarded ones are deleted.
class CountedPayload : public MessagePayload {
 public:
  explicit CountedPayload(int* live) : live_(live) { ++*live_; }
  ~CountedPayload() override { --*live_; }

 private:
  int* live_;
};

class Recorder : public MessageTarget {
 public:
  void HandleMessage(QueuedMessage* msg) override {
    ids.push_back(msg->id);
    delete msg->payload;
  }
  std::vector<uint32_t> ids;
};

// A hub that never blocks and counts its waits.
class CountingHub : public SocketHub {
 public:
  bool Wait(int ms, bool) override {
    waits.push_back(ms);
    return true;
  }
  void WakeUp() override { ++wakeups; }
  std::vector<int> waits;
  int wakeups = 0;
};

void DrainAll(EventQueue* queue) {
  QueuedMessage msg;
  while (queue->Get(&msg, 0)) queue->Dispatch(&msg);
}

TEST(EventQueueTest, PostedMessagesRunInOrderAndDueTimedOnesQueueBehindThem) {
  EventQueue queue;
  Recorder target;
  queue.PostAfter(-5, &target, 100);  // already due
  queue.Post(&target, 1);
  queue.Post(&target, 2);
  DrainAll(&queue);
  // The due timed message joins the back of the posted ones when Get looks at the heap.
  EXPECT_EQ(target.ids, (std::vector<uint32_t>{1, 2, 100}));
}

TEST(EventQueueTest, TimedMessagesComeDueInTriggerOrderAndKeepPostingOrderOnTies) {
  EventQueue queue;
  Recorder target;
  queue.PostAfter(0, &target, 3);
  queue.PostAfter(-10, &target, 1);
  queue.PostAfter(0, &target, 4);
  queue.PostAfter(-5, &target, 2);
  DrainAll(&queue);
  EXPECT_EQ(target.ids, (std::vector<uint32_t>{1, 2, 3, 4}));
}

TEST(EventQueueTest, ATimedMessageWaitsForItsDelay) {
  EventQueue queue;
  Recorder target;
  queue.PostAfter(30, &target, 7);
  QueuedMessage msg;
  EXPECT_FALSE(queue.Get(&msg, 0));
  int delay = queue.NextDelay();
  EXPECT_GT(delay, 0);
  EXPECT_LE(delay, 30);
  ASSERT_TRUE(queue.Get(&msg, 5000));
  EXPECT_EQ(msg.id, 7u);
  EXPECT_EQ(queue.NextDelay(), kWaitForever);
}

TEST(EventQueueTest, GetWithZeroWaitOnEmptyQueueWaitsOnceForZero) {
  CountingHub hub;
  EventQueue queue(&hub);
  QueuedMessage msg;
  EXPECT_FALSE(queue.Get(&msg, 0));
  EXPECT_EQ(hub.waits, (std::vector<int>{0}));
}

TEST(EventQueueTest, EveryPostWakesTheHub) {
  CountingHub hub;
  EventQueue queue(&hub);
  Recorder target;
  queue.Post(&target);
  queue.PostAfter(10, &target);
  EXPECT_EQ(hub.wakeups, 2);
  queue.Clear(nullptr);
}

TEST(EventQueueTest, ClearMatchesTargetAndIdAndDeletesPayloads) {
  int live = 0;
  EventQueue queue;
  Recorder a, b;
  queue.Post(&a, 1, new CountedPayload(&live));
  queue.Post(&a, 2, new CountedPayload(&live));
  queue.Post(&b, 1, new CountedPayload(&live));
  queue.PostAfter(1000, &a, 1, new CountedPayload(&live));
  queue.PostAfter(1000, &b, 2, new CountedPayload(&live));
  ASSERT_EQ(live, 5);

  queue.Clear(&a, 1);  // a's id 1, posted and timed
  EXPECT_EQ(live, 3);
  queue.Clear(nullptr, 2);  // id 2 of any target
  EXPECT_EQ(live, 1);
  DrainAll(&queue);
  EXPECT_TRUE(a.ids.empty());
  EXPECT_EQ(b.ids, (std::vector<uint32_t>{1}));
  EXPECT_EQ(live, 0);
}

TEST(EventQueueTest, ClearAllIncludesThePeekedMessage) {
  int live = 0;
  EventQueue queue;
  Recorder target;
  queue.Post(&target, 1, new CountedPayload(&live));
  queue.PostAfter(500, &target, 2, new CountedPayload(&live));
  QueuedMessage peeked;
  ASSERT_TRUE(queue.Peek(&peeked, 0));
  EXPECT_EQ(peeked.id, 1u);
  queue.Clear(nullptr, kAnyMessageId);
  EXPECT_EQ(live, 0);
  EXPECT_EQ(queue.Size(), 0u);
}

TEST(EventQueueTest, PeekKeepsTheMessageForTheNextGet) {
  EventQueue queue;
  Recorder target;
  queue.Post(&target, 4);
  queue.Post(&target, 5);
  QueuedMessage msg;
  ASSERT_TRUE(queue.Peek(&msg, 0));
  ASSERT_TRUE(queue.Peek(&msg, 0));
  EXPECT_EQ(msg.id, 4u);
  ASSERT_TRUE(queue.Get(&msg, 0));
  EXPECT_EQ(msg.id, 4u);
  ASSERT_TRUE(queue.Get(&msg, 0));
  EXPECT_EQ(msg.id, 5u);
}

TEST(EventQueueTest, DestroyedTargetNeverReceivesItsMessages) {
  int live = 0;
  EventQueue queue;
  Recorder survivor;
  auto doomed = std::make_unique<Recorder>();
  queue.Post(doomed.get(), 1, new CountedPayload(&live));
  queue.PostAfter(0, doomed.get(), 2, new CountedPayload(&live));
  queue.PostAfter(100000, doomed.get(), 3);
  queue.Post(&survivor, 9);
  QueuedMessage peeked;
  ASSERT_TRUE(queue.Peek(&peeked, 0));
  doomed.reset();
  EXPECT_EQ(live, 0);
  DrainAll(&queue);
  EXPECT_EQ(survivor.ids, (std::vector<uint32_t>{9}));
  EXPECT_EQ(queue.NextDelay(), kWaitForever);
}

TEST(EventQueueTest, StopEndsGetUntilRestart) {
  EventQueue queue;
  Recorder target;
  queue.Post(&target, 1);
  queue.Stop();
  QueuedMessage msg;
  EXPECT_TRUE(queue.IsStopping());
  EXPECT_FALSE(queue.Get(&msg, kWaitForever));  // returns at once
  queue.Restart();
  EXPECT_TRUE(queue.Get(&msg, 0));
}

TEST(EventQueueTest, DestroyingAQueueDeletesWaitingPayloads) {
  int live = 0;
  Recorder target;
  {
    EventQueue queue;
    queue.Post(&target, 1, new CountedPayload(&live));
    queue.PostAfter(1000, &target, 2, new CountedPayload(&live));
  }
  EXPECT_EQ(live, 0);
}

// A payload whose destructor destroys a message target: clearing must not deadlock or touch
// freed memory when that target has messages in the same queue.
class TargetOwningPayload : public MessagePayload {
 public:
  explicit TargetOwningPayload(Recorder* owned) : owned_(owned) {}
  ~TargetOwningPayload() override { delete owned_; }

 private:
  Recorder* owned_;
};

TEST(EventQueueTest, PayloadDestructorMayDestroyAnotherTarget) {
  EventQueue queue;
  Recorder a;
  auto* inner = new Recorder();
  queue.Post(inner, 1);
  queue.Post(&a, 2, new TargetOwningPayload(inner));
  queue.Clear(&a);
  Recorder later;
  queue.Post(&later, 3);
  DrainAll(&queue);
  EXPECT_EQ(later.ids, (std::vector<uint32_t>{3}));
}

TEST(EventQueueTest, SetHubReplacesTheOwnedHub) {
  CountingHub hub;
  EventQueue queue;
  queue.SetHub(&hub);
  Recorder target;
  queue.Post(&target, 1);
  EXPECT_EQ(hub.wakeups, 1);
  DrainAll(&queue);
}

}  // namespace
}  // namespace vexalo
