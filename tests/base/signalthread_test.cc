#include "base/runtime/signalthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/runtime/backgroundworker.h"
#include "base/runtime/loopthread.h"
#include "base/runtime/threadregistry.h"

namespace vexalo {
namespace {

// Runs the calling thread's queue until `done` is true (or a generous limit passes).
template <typename Predicate>
void RunUntil(Predicate done) {
  LoopThread* self = ThreadRegistry::Current();
  for (int i = 0; i < 1000 && !done(); ++i) self->RunFor(10);
}

class CountingSignalThread : public SignalThread {
 public:
  CountingSignalThread(std::atomic<int>* work_runs, std::atomic<int>* destroyed)
      : work_runs_(work_runs), destroyed_(destroyed) {}
  std::thread::id worked_on;
  bool wait_for_cancel = false;

 protected:
  ~CountingSignalThread() override { ++*destroyed_; }
  void DoWork() override {
    worked_on = std::this_thread::get_id();
    while (wait_for_cancel && !IsCancelled()) std::this_thread::yield();
    ++*work_runs_;
  }

 private:
  std::atomic<int>* work_runs_;
  std::atomic<int>* destroyed_;
};

class DoneListener : public SlotHost {
 public:
  void OnWorkDone(SignalThread* thread) {
    ++calls;
    on_thread = std::this_thread::get_id();
    thread->Destroy();
  }
  int calls = 0;
  std::thread::id on_thread;
};

TEST(SignalThreadTest, WorkRunsOnAWorkerAndIsReportedOnTheOwnerThread) {
  std::atomic<int> runs{0}, destroyed{0};
  auto* job = new CountingSignalThread(&runs, &destroyed);
  DoneListener listener;
  job->WorkDone.Connect(&listener, &DoneListener::OnWorkDone);
  job->Start();
  RunUntil([&] { return destroyed == 1; });
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(listener.calls, 1);
  EXPECT_EQ(listener.on_thread, std::this_thread::get_id());
  EXPECT_EQ(destroyed, 1);
}

TEST(SignalThreadTest, DestroyWhileWorkingCancelsAndNeverReports) {
  std::atomic<int> runs{0}, destroyed{0};
  auto* job = new CountingSignalThread(&runs, &destroyed);
  job->wait_for_cancel = true;
  DoneListener listener;
  job->WorkDone.Connect(&listener, &DoneListener::OnWorkDone);
  job->Start();
  job->Destroy();  // cancels the worker; the object goes when the worker reports
  EXPECT_EQ(destroyed, 0);
  RunUntil([&] { return destroyed == 1; });
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(listener.calls, 0);
}

TEST(SignalThreadTest, DestroyBeforeStartFreesOnTheNextMessage) {
  std::atomic<int> runs{0}, destroyed{0};
  auto* job = new CountingSignalThread(&runs, &destroyed);
  job->Destroy();
  job->Destroy();  // a second request is ignored
  RunUntil([&] { return destroyed == 1; });
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(destroyed, 1);
}

// A background job whose owner may let go before it finishes.
class SlowJob : public BackgroundWorker {
 public:
  SlowJob(MessageTarget* owner, std::atomic<bool>* release_seen, std::atomic<int>* destroyed)
      : BackgroundWorker(owner, 4242), release_seen_(release_seen), destroyed_(destroyed) {}
  std::atomic<bool> proceed{false};
  std::atomic<bool> abandoned{false};

 protected:
  ~SlowJob() override { ++*destroyed_; }
  void DoWork() override {
    while (!proceed && !IsCancelled()) std::this_thread::yield();
    *release_seen_ = abandoned.load();
  }
  void OnAbandon() override { abandoned = true; }

 private:
  std::atomic<bool>* release_seen_;
  std::atomic<int>* destroyed_;
};

class JobOwner : public MessageTarget {
 public:
  void HandleMessage(QueuedMessage* msg) override {
    ++completions;
    last_id = msg->id;
    auto completion = msg->TakePayload<WorkerCompletion>();
    completion->worker()->Release();
  }
  int completions = 0;
  uint32_t last_id = 0;
};

TEST(BackgroundWorkerTest, CompletionReachesTheOwnerWhichReleasesTheJob) {
  std::atomic<bool> release_seen{false};
  std::atomic<int> destroyed{0};
  JobOwner owner;
  auto* job = new SlowJob(&owner, &release_seen, &destroyed);
  job->proceed = true;
  ASSERT_TRUE(job->Start());
  RunUntil([&] { return owner.completions == 1 && destroyed == 1; });
  EXPECT_EQ(owner.last_id, 4242u);
  EXPECT_EQ(destroyed, 1);
}

TEST(BackgroundWorkerTest, ReleasedJobNeitherPostsNorTouchesItsOwner) {
  std::atomic<bool> release_seen{false};
  std::atomic<int> destroyed{0};
  auto owner = std::make_unique<JobOwner>();
  auto* job = new SlowJob(owner.get(), &release_seen, &destroyed);
  ASSERT_TRUE(job->Start());
  job->Release();
  owner.reset();  // the owner is gone while the thread still runs
  job->proceed = true;
  for (int i = 0; i < 1000 && destroyed == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(destroyed, 1);  // the thread dropped the last reference
  EXPECT_TRUE(release_seen);
  EXPECT_EQ(ThreadRegistry::Current()->Size(), 0u);
}

TEST(BackgroundWorkerTest, OwnerDestroyedWithACompletionPendingFreesTheJob) {
  std::atomic<bool> release_seen{false};
  std::atomic<int> destroyed{0};
  auto owner = std::make_unique<JobOwner>();
  auto* job = new SlowJob(owner.get(), &release_seen, &destroyed);
  job->proceed = true;
  job->Start();
  while (!job->IsDone()) std::this_thread::yield();
  // The completion waits in our queue; the owner lets go and dies before handling it.
  job->Release();
  owner.reset();
  EXPECT_EQ(destroyed, 1);
}

}  // namespace
}  // namespace vexalo
