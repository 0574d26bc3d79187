#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/net/dispatcher.h"
#include "base/net/sockethub.h"

namespace vexalo {

class SocketDispatcher;

// The socket hub of a thread: one epoll set holding every registered dispatcher's descriptor
// plus an eventfd for wake-ups from other threads. Interest changes are collected and applied
// once before each wait, so a socket that disables and re-enables reading around each packet
// costs no extra system calls.
class PhysicalSocketServer : public SocketHub {
 public:
  PhysicalSocketServer();
  ~PhysicalSocketServer() override;
  PhysicalSocketServer(const PhysicalSocketServer&) = delete;
  PhysicalSocketServer& operator=(const PhysicalSocketServer&) = delete;

  EventSocket* CreateSocket(int type) override;
  EventSocket* CreateEventSocket(int type) override;
  // Takes over an accepted, connected descriptor as an event socket.
  SocketDispatcher* WrapSocket(int fd, int type);

  bool Wait(int ms, bool process_io) override;
  void WakeUp() override;

  void Add(Dispatcher* dispatcher);
  void Remove(Dispatcher* dispatcher);
  // The dispatcher's interest or close state changed; applied before the next wait.
  void Update(Dispatcher* dispatcher);

  // At most this many descriptors are served per wait, so a flood on some sockets cannot keep
  // the thread from its queue.
  static constexpr int kMaxEventsPerWait = 64;

  // The epoll descriptor, readable whenever a wait would not block. The UI thread's main loop
  // polls it instead of waiting here; it then calls SetPolledExternally, so that interest
  // changes made outside a wait wake the loop, and asks MoreDue after each drain.
  int PollDescriptor() const { return epoll_fd_; }
  void SetPolledExternally(bool on) { polled_externally_ = on; }
  // True when another wait round has work even if the descriptor is quiet.
  bool MoreDue();
  bool IsValid() const { return epoll_fd_ >= 0 && wake_fd_ >= 0; }
  // The wake-up flag and the eventfd's count, for reports about a thread that sleeps.
  std::string DescribeWakeState() const;

 private:
  struct Registration {
    Dispatcher* dispatcher;
    int fd;
    uint32_t registered;  // epoll events now in the set; 0 = not in the set
    bool dirty;
  };

  bool WaitForWakeUpOnly(int ms);
  void ConsumeWakeUp();
  void ApplyInterest();
  void NoteChange();
  bool ServiceClosing();

  int epoll_fd_ = -1;
  int wake_fd_ = -1;
  std::atomic<bool> wake_pending_{false};
  std::recursive_mutex lock_;
  // Keys are never reused, so an event for a dispatcher removed earlier in the same round
  // finds nothing instead of a newcomer at the same address.
  std::unordered_map<uint64_t, Registration> registrations_;
  std::unordered_map<Dispatcher*, uint64_t> keys_;
  std::vector<uint64_t> dirty_;
  std::vector<uint64_t> closing_;
  uint64_t next_key_ = 1;
  bool polled_externally_ = false;
  bool delivered_last_round_ = false;
  // Under lock_: the owner thread is in epoll_wait.
  bool blocked_in_wait_ = false;
};

}  // namespace vexalo
