#include "base/loopthread.h"

#include <pthread.h>

#include <optional>
#include <system_error>
#include <vector>

#include "base/queueregistry.h"
#include "base/threadregistry.h"

namespace vexalo {

// Shared by the caller and the serving thread. The caller only returns after seeing `done`
// under `lock`, so the server's WakeUp never reaches a hub that is already gone.
struct LoopThread::InvokeCompletion {
  std::mutex lock;
  bool done = false;
  SocketHub* caller_hub = nullptr;
};

LoopThread::LoopThread(SocketHub* hub) : EventQueue(hub) { ThreadRegistry::Instance().Add(this); }

LoopThread::~LoopThread() {
  Stop();
  // Leave the queue registry before our members go, so no other thread reaches this Clear
  // override on a half-destroyed object.
  Clear(nullptr, kAnyMessageId);
  QueueRegistry::Instance().Remove(this);
  ThreadRegistry::Instance().Remove(this);
}

bool LoopThread::IsCurrent() const { return ThreadRegistry::Current() == this; }

size_t LoopThread::PendingInvocations() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return invocations_.size();
}

void LoopThread::Stop() {
  EventQueue::Stop();
  if (!IsCurrent()) Join();
}

bool LoopThread::Start() {
  if (started_) return false;
  Restart();
  try {
    os_thread_ = std::thread([this] {
      ThreadRegistry::SetCurrent(this);
      if (!name_.empty()) pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
      Run(kWaitForever);
      ThreadRegistry::SetCurrent(nullptr);
    });
  } catch (const std::system_error&) {
    return false;
  }
  started_ = true;
  return true;
}

void LoopThread::Join() {
  if (!started_) return;
  if (os_thread_.joinable()) os_thread_.join();
  started_ = false;
}

void LoopThread::Run(int ms) { RunFor(ms); }

void LoopThread::RunFor(int ms) {
  const Tick end = TickNow() + ms;
  int next = ms;
  for (;;) {
    QueuedMessage msg;
    if (!Get(&msg, next)) return;
    Dispatch(&msg);
    if (ms == kWaitForever) continue;
    int64_t left = TickDiff(end, TickNow());
    if (left <= 0) return;
    next = static_cast<int>(left);
  }
}

void LoopThread::Invoke(MessageTarget* target, uint32_t id, MessagePayload* payload) {
  QueuedMessage msg{target, id, payload};
  if (IsCurrent()) {
    target->HandleMessage(&msg);
    return;
  }

  // A thread without a LoopThread gets one for the duration of the call.
  std::optional<AdoptedThread> adopted;
  if (!ThreadRegistry::Current()) adopted.emplace();
  LoopThread* caller = ThreadRegistry::Current();

  auto completion = std::make_shared<InvokeCompletion>();
  completion->caller_hub = caller->hub();
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    invocations_.push_back(Invocation{caller, msg, completion});
    has_invocations_ = true;
  }
  hub()->WakeUp();

  auto done = [&completion] {
    std::lock_guard<std::mutex> hold(completion->lock);
    return completion->done;
  };
  while (!done()) {
    // Serving our own invocations keeps two threads that invoke each other from deadlocking.
    caller->ServeInvocations();
    if (done()) break;
    caller->hub()->Wait(kWaitForever, false);
  }
}

void LoopThread::Complete(const std::shared_ptr<InvokeCompletion>& completion) {
  std::lock_guard<std::mutex> hold(completion->lock);
  completion->done = true;
  completion->caller_hub->WakeUp();
}

void LoopThread::ServeInvocations() {
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

void LoopThread::Clear(MessageTarget* target, uint32_t id) {
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

AdoptedThread::AdoptedThread(SocketHub* hub) : LoopThread(hub) {
  if (!ThreadRegistry::Current()) ThreadRegistry::SetCurrent(this);
}

AdoptedThread::~AdoptedThread() {
  if (ThreadRegistry::Current() == this) ThreadRegistry::SetCurrent(nullptr);
}

}  // namespace vexalo
