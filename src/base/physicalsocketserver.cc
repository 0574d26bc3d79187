#include "base/physicalsocketserver.h"

#include <errno.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace vexalo {
namespace {

constexpr uint64_t kWakeUpKey = 0;
constexpr int kMaxEventsPerWait = 64;

uint32_t ToEpollEvents(uint32_t flags) {
  uint32_t events = 0;
  if (flags & (kfRead | kfClose)) events |= EPOLLIN | EPOLLRDHUP;
  if (flags & (kfWrite | kfConnect)) events |= EPOLLOUT;
  return events;
}

int PendingError(int fd) {
  int error = 0;
  socklen_t len = sizeof(error);
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return 0;
  return error;
}

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

bool PhysicalSocketServer::Wait(int ms, bool process_io) {
  if (!IsValid()) return false;
  if (!process_io) return WaitForWakeUpOnly(ms);

  epoll_event events[kMaxEventsPerWait];
  int n = epoll_wait(epoll_fd_, events, kMaxEventsPerWait, ms < 0 ? -1 : ms);
  if (n < 0) return errno == EINTR;
  for (int i = 0; i < n; ++i) {
    if (events[i].data.u64 == kWakeUpKey) {
      ConsumeWakeUp();
    } else {
      HandleReady(events[i].data.u64, events[i].events);
    }
  }
  return true;
}

void PhysicalSocketServer::HandleReady(uint64_t key, uint32_t epoll_events) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto it = registrations_.find(key);
  if (it == registrations_.end()) return;
  Dispatcher* dispatcher = it->second.dispatcher;
  uint32_t requested = dispatcher->GetRequestedEvents();
  uint32_t flags = 0;
  int error = 0;
  if (epoll_events & (EPOLLERR | EPOLLHUP)) error = PendingError(it->second.fd);
  if (epoll_events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
    flags |= requested & (kfRead | kfClose);
  }
  if (epoll_events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) {
    flags |= requested & (kfWrite | kfConnect);
  }
  if (flags == 0) return;
  dispatcher->OnPreEvent(flags);
  dispatcher->OnEvent(flags, error);
}

void PhysicalSocketServer::Add(Dispatcher* dispatcher) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (keys_.count(dispatcher)) return;
  uint64_t key = next_key_++;
  int fd = dispatcher->GetDescriptor();
  registrations_[key] = Registration{dispatcher, fd};
  keys_[dispatcher] = key;
  epoll_event ev{};
  ev.events = ToEpollEvents(dispatcher->GetRequestedEvents());
  ev.data.u64 = key;
  if (fd >= 0) epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev);
}

void PhysicalSocketServer::Remove(Dispatcher* dispatcher) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto it = keys_.find(dispatcher);
  if (it == keys_.end()) return;
  auto reg = registrations_.find(it->second);
  if (reg->second.fd >= 0) epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, reg->second.fd, nullptr);
  registrations_.erase(reg);
  keys_.erase(it);
}

void PhysicalSocketServer::Update(Dispatcher* dispatcher) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto it = keys_.find(dispatcher);
  if (it == keys_.end()) return;
  epoll_event ev{};
  ev.events = ToEpollEvents(dispatcher->GetRequestedEvents());
  ev.data.u64 = it->second;
  int fd = registrations_[it->second].fd;
  if (fd >= 0) epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, fd, &ev);
}

}  // namespace vexalo
