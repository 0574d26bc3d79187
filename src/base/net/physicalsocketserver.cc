#include "base/net/physicalsocketserver.h"

#include <errno.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "base/net/physicalsocket.h"
#include "base/net/socketdispatcher.h"

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
  // One write per burst of posts: while the flag is set, a write is in the eventfd or about to
  // be read by the waiter, which looks at its queues after every wait.
  if (wake_pending_.exchange(true, std::memory_order_acq_rel)) return;
  uint64_t one = 1;
  ssize_t ignored = write(wake_fd_, &one, sizeof(one));
  (void)ignored;
}

void PhysicalSocketServer::ConsumeWakeUp() {
  // Read, then clear: a WakeUp between the two finds the flag still set and writes nothing,
  // which is safe because the waiter has yet to look at its queues. Clearing first would let
  // that WakeUp's write be drained by this read, leaving the flag set over an empty eventfd,
  // and every later WakeUp would then write nothing.
  uint64_t count;
  ssize_t ignored = read(wake_fd_, &count, sizeof(count));
  (void)ignored;
  // An exchange, not a store: it acquires the last WakeUp's release, so that WakeUp's post is
  // visible when the queues are looked at next.
  wake_pending_.exchange(false, std::memory_order_acq_rel);
}

std::string PhysicalSocketServer::DescribeWakeState() const {
  std::string count = "unknown";
  std::ifstream info("/proc/self/fdinfo/" + std::to_string(wake_fd_));
  for (std::string line; std::getline(info, line);) {
    if (line.rfind("eventfd-count:", 0) == 0) count = line.substr(line.find_first_not_of(" \t", 14));
  }
  return std::string("wake-up flag ") + (wake_pending_.load() ? "set" : "clear") +
         ", eventfd count " + count;
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

  std::unique_lock<std::recursive_mutex> hold(lock_);
  ApplyInterest();
  bool delivered = !closing_.empty() && ServiceClosing();
  delivered_last_round_ = delivered;
  ApplyInterest();

  // The lock is not held while blocked, so another thread that adds, updates or removes a
  // socket here is not held up until some event arrives; it wakes this wait instead (see
  // NoteChange), and the change is applied in the next round.
  epoll_event events[kMaxEventsPerWait];
  blocked_in_wait_ = true;
  hold.unlock();
  int n = epoll_wait(epoll_fd_, events, kMaxEventsPerWait, delivered ? 0 : (ms < 0 ? -1 : ms));
  hold.lock();
  blocked_in_wait_ = false;
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
  NoteChange();
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
  NoteChange();
}

void PhysicalSocketServer::NoteChange() {
  // Changes made on the waiting thread outside a wait are applied before its next wait. A wait
  // that is blocked now (another thread made the change), or a descriptor polled by someone
  // else, needs a wake-up to get to them.
  if (dirty_.size() == 1 && (polled_externally_ || blocked_in_wait_)) WakeUp();
}

bool PhysicalSocketServer::MoreDue() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return !dirty_.empty() || delivered_last_round_;
}

}  // namespace vexalo
