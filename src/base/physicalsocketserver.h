#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "base/dispatcher.h"
#include "base/sockethub.h"

namespace vexalo {

// The socket hub of a thread: one epoll set holding every registered dispatcher's descriptor
// plus an eventfd for wake-ups from other threads.
class PhysicalSocketServer : public SocketHub {
 public:
  PhysicalSocketServer();
  ~PhysicalSocketServer() override;
  PhysicalSocketServer(const PhysicalSocketServer&) = delete;
  PhysicalSocketServer& operator=(const PhysicalSocketServer&) = delete;

  bool Wait(int ms, bool process_io) override;
  void WakeUp() override;

  // Registration; call Update after a dispatcher's requested events changed.
  void Add(Dispatcher* dispatcher);
  void Remove(Dispatcher* dispatcher);
  void Update(Dispatcher* dispatcher);

  // The epoll descriptor, readable whenever a wait would not block. The UI thread's main loop
  // polls it instead of waiting here.
  int PollDescriptor() const { return epoll_fd_; }
  bool IsValid() const { return epoll_fd_ >= 0 && wake_fd_ >= 0; }

 private:
  struct Registration {
    Dispatcher* dispatcher;
    int fd;
  };

  bool WaitForWakeUpOnly(int ms);
  void ConsumeWakeUp();
  void HandleReady(uint64_t key, uint32_t epoll_events);

  int epoll_fd_ = -1;
  int wake_fd_ = -1;
  std::atomic<bool> wake_pending_{false};
  std::recursive_mutex lock_;
  // Keys are never reused, so an event for a dispatcher removed earlier in the same round
  // finds nothing instead of a newcomer at the same address.
  std::unordered_map<uint64_t, Registration> registrations_;
  std::unordered_map<Dispatcher*, uint64_t> keys_;
  uint64_t next_key_ = 1;
};

}  // namespace vexalo
