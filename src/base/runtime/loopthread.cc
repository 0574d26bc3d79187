#include "base/runtime/loopthread.h"

#include <pthread.h>

#include <optional>
#include <system_error>
#include <vector>

#include "base/runtime/threadregistry.h"

namespace vexalo {

LoopThread::LoopThread(SocketHub* hub) : EventQueue(hub) { ThreadRegistry::Instance().Add(this); }

LoopThread::~LoopThread() {
  Stop();
  ThreadRegistry::Instance().Remove(this);
}

bool LoopThread::IsCurrent() const { return ThreadRegistry::Current() == this; }

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
  AddInvocation(msg, completion);

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

AdoptedThread::AdoptedThread(SocketHub* hub) : LoopThread(hub) {
  if (!ThreadRegistry::Current()) ThreadRegistry::SetCurrent(this);
}

AdoptedThread::~AdoptedThread() {
  if (ThreadRegistry::Current() == this) ThreadRegistry::SetCurrent(nullptr);
}

}  // namespace vexalo
