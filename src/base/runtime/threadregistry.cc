#include "base/runtime/threadregistry.h"

#include <algorithm>

#include "base/runtime/loopthread.h"

namespace vexalo {
namespace {

thread_local LoopThread* current_thread = nullptr;

// Makes the main thread's LoopThread before main runs, on the thread that runs main.
struct MainThreadMaker {
  MainThreadMaker() { ThreadRegistry::Instance().MainThread(); }
} main_thread_maker;

}  // namespace

ThreadRegistry& ThreadRegistry::Instance() {
  // Never destroyed, like the main thread object: statics may use them until exit.
  static ThreadRegistry* instance = new ThreadRegistry();
  return *instance;
}

LoopThread* ThreadRegistry::MainThread() {
  std::call_once(main_once_, [this] {
    auto* thread = new LoopThread();
    thread->SetName("main");
    current_thread = thread;
    main_thread_ = thread;
  });
  return main_thread_;
}

LoopThread* ThreadRegistry::Current() { return current_thread; }

void ThreadRegistry::SetCurrent(LoopThread* thread) { current_thread = thread; }

void ThreadRegistry::Add(LoopThread* thread) {
  std::lock_guard<std::mutex> hold(lock_);
  threads_.push_back(thread);
}

void ThreadRegistry::Remove(LoopThread* thread) {
  std::lock_guard<std::mutex> hold(lock_);
  threads_.erase(std::remove(threads_.begin(), threads_.end(), thread), threads_.end());
}

size_t ThreadRegistry::Count() {
  std::lock_guard<std::mutex> hold(lock_);
  return threads_.size();
}

}  // namespace vexalo
