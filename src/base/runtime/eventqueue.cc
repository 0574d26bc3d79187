#include "base/runtime/eventqueue.h"

#include <algorithm>
#include <limits>

#include "base/net/physicalsocketserver.h"
#include "base/runtime/queueregistry.h"

namespace vexalo {

EventQueue::EventQueue(SocketHub* hub) : hub_(hub), owns_hub_(false) {
  if (!hub_) {
    hub_ = new PhysicalSocketServer();
    owns_hub_ = true;
  }
  QueueRegistry::Instance().Add(this);
}

EventQueue::~EventQueue() {
  Clear(nullptr, kAnyMessageId);
  QueueRegistry::Instance().Remove(this);
  if (owns_hub_) delete hub_;
}

void EventQueue::Stop() {
  stopping_ = true;
  hub_->WakeUp();
}

bool EventQueue::IsStopping() const { return stopping_; }

void EventQueue::Restart() { stopping_ = false; }

bool EventQueue::Get(QueuedMessage* out, int wait_ms) {
  if (stopping_) return false;
  if (peek_kept_) {
    *out = peeked_;
    peek_kept_ = false;
    return true;
  }

  const Tick start = Now();
  Tick now = start;
  int64_t elapsed = 0;
  while (!stopping_) {
    ServeInvocations();

    int64_t next_delay = kWaitForever;
    {
      std::lock_guard<std::recursive_mutex> hold(lock_);
      owner_ = std::this_thread::get_id();
      // Due timed messages join the back of `posted`, in trigger order.
      while (!timed_.empty()) {
        const TimedMessage& top = timed_.front();
        if (TickDiff(top.trigger, now) > 0) {
          next_delay = TickDiff(top.trigger, now);
          break;
        }
        posted_.push_back(top.message);
        std::pop_heap(timed_.begin(), timed_.end(), TriggerLater());
        timed_.pop_back();
      }
      if (!posted_.empty()) {
        *out = posted_.front();
        posted_.pop_front();
        return true;
      }
    }

    if (wait_ms != kWaitForever) {
      int64_t remaining = std::max<int64_t>(0, wait_ms - elapsed);
      if (next_delay == kWaitForever || next_delay >= remaining) next_delay = remaining;
    }
    int wait = next_delay > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                             : static_cast<int>(next_delay);
    // A failed wait is not fatal: recompute the time-out and wait again.
    hub_->Wait(wait, true);

    now = Now();
    elapsed = TickDiff(now, start);
    if (wait_ms != kWaitForever && elapsed >= wait_ms) break;
  }
  return false;
}

bool EventQueue::Peek(QueuedMessage* out, int wait_ms) {
  if (stopping_) return false;
  if (!peek_kept_) {
    if (!Get(&peeked_, wait_ms)) return false;
    peek_kept_ = true;
  }
  *out = peeked_;
  return true;
}

void EventQueue::Post(MessageTarget* target, uint32_t id, MessagePayload* payload) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  posted_.push_back(QueuedMessage{target, id, payload});
  WakeUnlessOwnPost();
}

void EventQueue::PostAfter(int delay_ms, MessageTarget* target, uint32_t id,
                           MessagePayload* payload) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  timed_.push_back(TimedMessage{delay_ms, Now() + delay_ms, next_sequence_++,
                                QueuedMessage{target, id, payload}});
  std::push_heap(timed_.begin(), timed_.end(), TriggerLater());
  WakeUnlessOwnPost();
}

void EventQueue::WakeUnlessOwnPost() {
  // The owner is not waiting while it posts, and looks at its lists again before the next
  // wait; skipping the eventfd write saves a system call and a spurious wake-up per post.
  // Read under the lock: a new owner sets it in Get before looking at the lists, so a post
  // that still sees the old owner is seen by the new owner's look.
  if (owner_ == std::this_thread::get_id() && !wake_on_own_posts_) return;
  hub_->WakeUp();
}

void EventQueue::Clear(MessageTarget* target, uint32_t id) {
  std::vector<MessagePayload*> discarded;
  std::vector<std::shared_ptr<InvokeCompletion>> released;
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    for (auto it = invocations_.begin(); it != invocations_.end();) {
      if (it->message.Matches(target, id)) {
        discarded.push_back(it->message.payload);
        released.push_back(it->completion);
        it = invocations_.erase(it);
      } else {
        ++it;
      }
    }
    ClearLocked(target, id, &discarded);
  }
  for (const auto& completion : released) Complete(completion);
  DeletePayloads(&discarded);
}

void EventQueue::AddInvocation(const QueuedMessage& message,
                               const std::shared_ptr<InvokeCompletion>& completion) {
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    invocations_.push_back(Invocation{message, completion});
    has_invocations_ = true;
  }
  hub_->WakeUp();
}

void EventQueue::ServeInvocations() {
  if (!has_invocations_.load(std::memory_order_acquire)) return;
  std::unique_lock<std::recursive_mutex> hold(lock_);
  while (!invocations_.empty()) {
    Invocation invocation = std::move(invocations_.front());
    invocations_.pop_front();
    hold.unlock();
    invocation.message.target->HandleMessage(&invocation.message);
    Complete(invocation.completion);
    hold.lock();
  }
  has_invocations_ = false;
}

size_t EventQueue::PendingInvocations() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return invocations_.size();
}

void EventQueue::Complete(const std::shared_ptr<InvokeCompletion>& completion) {
  std::lock_guard<std::mutex> hold(completion->lock);
  completion->done = true;
  completion->caller_hub->WakeUp();
}

void EventQueue::ClearLocked(MessageTarget* target, uint32_t id,
                             std::vector<MessagePayload*>* discarded) {
  if (peek_kept_ && peeked_.Matches(target, id)) {
    discarded->push_back(peeked_.payload);
    peek_kept_ = false;
  }
  std::deque<QueuedMessage> kept_posted;
  for (QueuedMessage& msg : posted_) {
    if (msg.Matches(target, id)) {
      discarded->push_back(msg.payload);
    } else {
      kept_posted.push_back(msg);
    }
  }
  posted_.swap(kept_posted);

  std::vector<TimedMessage> kept_timed;
  kept_timed.reserve(timed_.size());
  for (TimedMessage& timed : timed_) {
    if (timed.message.Matches(target, id)) {
      discarded->push_back(timed.message.payload);
    } else {
      kept_timed.push_back(timed);
    }
  }
  if (kept_timed.size() != timed_.size()) {
    timed_.swap(kept_timed);
    std::make_heap(timed_.begin(), timed_.end(), TriggerLater());
  }
}

void EventQueue::DeletePayloads(std::vector<MessagePayload*>* payloads) {
  for (MessagePayload* payload : *payloads) delete payload;
  payloads->clear();
}

void EventQueue::Dispatch(QueuedMessage* msg) { msg->target->HandleMessage(msg); }

int EventQueue::NextDelay() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  // A waiting invocation is due work too: a main loop that drains with zero waits may have
  // consumed its wake-up without serving it, and must come back at once.
  if (!posted_.empty() || !invocations_.empty()) return 0;
  if (timed_.empty()) return kWaitForever;
  int64_t delay = std::max<int64_t>(0, TickDiff(timed_.front().trigger, Now()));
  return delay > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                 : static_cast<int>(delay);
}

void EventQueue::SetHub(SocketHub* hub) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (owns_hub_) delete hub_;
  hub_ = hub;
  owns_hub_ = false;
}

size_t EventQueue::Size() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return posted_.size() + timed_.size() + (peek_kept_ ? 1 : 0);
}

}  // namespace vexalo
