#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/runtime/queuedmessage.h"
#include "base/net/sockethub.h"
#include "base/runtime/timeutils.h"

namespace vexalo {

struct TimedMessage {
  int delay_ms;
  Tick trigger;
  uint64_t sequence;  // keeps messages with the same trigger in posting order
  QueuedMessage message;
};

// A thread's queue of posted and timed messages. Post, PostAfter, Clear and NextDelay may be
// called from any thread; Get, Peek, Dispatch and ServeInvocations only on the owner thread.
class EventQueue {
 public:
  // With a null hub the queue makes (and owns) a PhysicalSocketServer.
  explicit EventQueue(SocketHub* hub = nullptr);
  virtual ~EventQueue();
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  virtual void Stop();
  virtual bool IsStopping() const;
  virtual void Restart();

  // One loop step: waits for the next message up to `wait_ms` (kWaitForever: no limit). False
  // when stopping or when the wait ran out.
  virtual bool Get(QueuedMessage* out, int wait_ms = kWaitForever);
  // Like Get, but keeps the message so that the next Get returns it again.
  virtual bool Peek(QueuedMessage* out, int wait_ms = kWaitForever);

  virtual void Post(MessageTarget* target, uint32_t id = 0, MessagePayload* payload = nullptr);
  // A negative delay is due at once.
  virtual void PostAfter(int delay_ms, MessageTarget* target, uint32_t id = 0,
                         MessagePayload* payload = nullptr);
  // Removes matching messages and deletes their payloads; a null target matches every target,
  // kAnyMessageId every id. Matching synchronous invocations are released: their callers return
  // without the call having run. Not virtual: other threads reach every queue through the
  // QueueRegistry, also while a derived part is still being built or already torn down.
  void Clear(MessageTarget* target, uint32_t id = kAnyMessageId);

  virtual void Dispatch(QueuedMessage* msg);
  // Runs the synchronous invocations other threads queued here (see LoopThread::Invoke).
  void ServeInvocations();
  // Cross-thread calls waiting to be served.
  size_t PendingInvocations();

  // Milliseconds until the next message is due: 0 when one (or an invocation) is waiting,
  // kWaitForever when none.
  virtual int NextDelay();

  // The clock that timed messages fall due by. Tests replace it to run schedules on virtual
  // time; code that measures intervals against those schedules reads the same clock.
  virtual Tick Now() const { return TickNow(); }

  // A queue drained from outside its own Get (the GLib main loop) learns of posts from its own
  // thread only through the hub's wake-up; one that runs Get re-reads its lists after every
  // wait, so its own posts need none.
  void SetWakeOnOwnPosts(bool on) { wake_on_own_posts_ = on; }

  void SetHub(SocketHub* hub);
  SocketHub* hub() const { return hub_; }

  // Number of waiting messages (posted, timed and a held peek), for tests and diagnostics.
  size_t Size();

 protected:
  // Removes matching messages; their payloads are handed to the caller to delete once no lock
  // is held, so a payload destructor may itself destroy message targets.
  void ClearLocked(MessageTarget* target, uint32_t id, std::vector<MessagePayload*>* discarded);
  static void DeletePayloads(std::vector<MessagePayload*>* payloads);

  // Shared by an invoking thread and the queue that serves it. The caller only returns after
  // seeing `done` under `lock`, so the server's WakeUp never reaches a hub that is already gone.
  struct InvokeCompletion {
    std::mutex lock;
    bool done = false;
    SocketHub* caller_hub = nullptr;
  };
  void AddInvocation(const QueuedMessage& message,
                     const std::shared_ptr<InvokeCompletion>& completion);

  std::recursive_mutex lock_;

 private:
  struct TriggerLater {
    bool operator()(const TimedMessage& a, const TimedMessage& b) const {
      if (a.trigger != b.trigger) return a.trigger > b.trigger;
      return a.sequence > b.sequence;
    }
  };

  struct Invocation {
    QueuedMessage message;
    std::shared_ptr<InvokeCompletion> completion;
  };
  static void Complete(const std::shared_ptr<InvokeCompletion>& completion);
  // Called with `lock_` held after adding a message.
  void WakeUnlessOwnPost();

  SocketHub* hub_;
  bool owns_hub_;
  std::list<Invocation> invocations_;
  std::atomic<bool> has_invocations_{false};
  std::atomic<bool> stopping_{false};
  bool peek_kept_ = false;
  QueuedMessage peeked_;
  std::deque<QueuedMessage> posted_;
  std::vector<TimedMessage> timed_;  // a heap ordered by TriggerLater
  uint64_t next_sequence_ = 0;
  // The thread that last ran Get; read and written under `lock_`.
  std::thread::id owner_;
  std::atomic<bool> wake_on_own_posts_{false};
};

}  // namespace vexalo
