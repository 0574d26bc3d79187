#include "base/physicalsocketserver.h"

#include <errno.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

#include "base/physicalsocket.h"
#include "base/socketdispatcher.h"

namespace vexalo {
namespace {

constexpr uint64_t kWakeUpKey = 0;

}  // namespace

PhysicalSocketServer::PhysicalSocketServer() {
  epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
  wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (epoll_fd_ >= 0 && wake_fd_ >= 0) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeUpKey;
    epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, &ev);
  }
}

PhysicalSocketServer::~PhysicalSocketServer() {
  if (wake_fd_ >= 0) close(wake_fd_);
  if (epoll_fd_ >= 0) close(epoll_fd_);
}

EventSocket* PhysicalSocketServer::CreateSocket(int type) {
  auto* socket = new PhysicalSocket(this);
  if (!socket->Create(type)) {
    delete socket;
    return nullptr;
  }
  return socket;
}

EventSocket* PhysicalSocketServer::CreateEventSocket(int type) {
  auto* socket = new SocketDispatcher(this);
  if (!socket->Create(type)) {
    delete socket;
    return nullptr;
  }
  return socket;
}

SocketDispatcher* PhysicalSocketServer::WrapSocket(int fd, int type) {
  auto* socket = new SocketDispatcher(this);
  if (!socket->Adopt(fd, type)) {
    delete socket;
    return nullptr;
  }
  return socket;
}

void PhysicalSocketServer::WakeUp() {
  // One write per burst of posts: the flag stays set until the waiter consumes the wake-up,
  // and the waiter always looks at its queues after a wait.
  if (wake_pending_.exchange(true, std::memory_order_acq_rel)) return;
  uint64_t one = 1;
  ssize_t ignored = write(wake_fd_, &one, sizeof(one));
  (void)ignored;
}

void PhysicalSocketServer::ConsumeWakeUp() {
  wake_pending_.store(false, std::memory_order_release);
  uint64_t count;
  ssize_t ignored = read(wake_fd_, &count, sizeof(count));
  (void)ignored;
}

bool PhysicalSocketServer::WaitForWakeUpOnly(int ms) {
  pollfd pfd{wake_fd_, POLLIN, 0};
  int n = poll(&pfd, 1, ms);
  if (n < 0) return errno == EINTR;
  if (n > 0) ConsumeWakeUp();
  return true;
}

void PhysicalSocketServer::ApplyInterest() {
  for (uint64_t key : dirty_) {
    auto it = registrations_.find(key);
    if (it == registrations_.end()) continue;
    Registration& reg = it->second;
    reg.dirty = false;
    bool closing = reg.dispatcher->IsClosePending();
    if (closing && std::find(closing_.begin(), closing_.end(), key) == closing_.end()) {
      closing_.push_back(key);
    }
    uint32_t wanted = closing ? 0 : reg.dispatcher->GetEpollInterest();
    if (wanted == reg.registered || reg.fd < 0) continue;
    epoll_event ev{};
    ev.events = wanted;
    ev.data.u64 = key;
    int op = reg.registered == 0 ? EPOLL_CTL_ADD : (wanted == 0 ? EPOLL_CTL_DEL : EPOLL_CTL_MOD);
    if (epoll_ctl(epoll_fd_, op, reg.fd, &ev) == 0 || op == EPOLL_CTL_DEL) reg.registered = wanted;
  }
  dirty_.clear();
}

bool PhysicalSocketServer::ServiceClosing() {
  bool delivered = false;
  std::vector<uint64_t> keys;
  keys.swap(closing_);
  for (uint64_t key : keys) {
    auto it = registrations_.find(key);
    if (it == registrations_.end()) continue;
    Dispatcher* dispatcher = it->second.dispatcher;
    if (!dispatcher->IsClosePending()) continue;
    if (dispatcher->ServicePendingClose()) delivered = true;
    // Still pending (unread data): look again next round. The dispatcher may be gone now.
    auto again = registrations_.find(key);
    if (again != registrations_.end() && again->second.dispatcher->IsClosePending()) {
      closing_.push_back(key);
    }
  }
  return delivered;
}

bool PhysicalSocketServer::Wait(int ms, bool process_io) {
  if (!IsValid()) return false;
  if (!process_io) return WaitForWakeUpOnly(ms);

  std::lock_guard<std::recursive_mutex> hold(lock_);
  ApplyInterest();
  bool delivered = !closing_.empty() && ServiceClosing();
  delivered_last_round_ = delivered;
  ApplyInterest();

  epoll_event events[kMaxEventsPerWait];
  int n = epoll_wait(epoll_fd_, events, kMaxEventsPerWait, delivered ? 0 : (ms < 0 ? -1 : ms));
  if (n < 0) return errno == EINTR;
  for (int i = 0; i < n; ++i) {
    uint64_t key = events[i].data.u64;
    if (key == kWakeUpKey) {
      ConsumeWakeUp();
      continue;
    }
    auto it = registrations_.find(key);
    if (it == registrations_.end()) continue;
    it->second.dispatcher->OnEpollEvents(events[i].events);
  }
  return true;
}

void PhysicalSocketServer::Add(Dispatcher* dispatcher) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (keys_.count(dispatcher)) return;
  uint64_t key = next_key_++;
  registrations_[key] = Registration{dispatcher, dispatcher->GetDescriptor(), 0, true};
  keys_[dispatcher] = key;
  dirty_.push_back(key);
  if (polled_externally_ && dirty_.size() == 1) WakeUp();
}

void PhysicalSocketServer::Remove(Dispatcher* dispatcher) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto it = keys_.find(dispatcher);
  if (it == keys_.end()) return;
  auto reg = registrations_.find(it->second);
  if (reg->second.registered != 0 && reg->second.fd >= 0) {
    epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, reg->second.fd, nullptr);
  }
  registrations_.erase(reg);
  keys_.erase(it);
}

void PhysicalSocketServer::Update(Dispatcher* dispatcher) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto it = keys_.find(dispatcher);
  if (it == keys_.end()) return;
  Registration& reg = registrations_[it->second];
  if (reg.dirty) return;
  reg.dirty = true;
  dirty_.push_back(it->second);
  if (polled_externally_ && dirty_.size() == 1) WakeUp();
}

bool PhysicalSocketServer::MoreDue() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return !dirty_.empty() || delivered_last_round_;
}

}  // namespace vexalo
