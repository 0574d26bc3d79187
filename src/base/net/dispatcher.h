#pragma once

#include <cstdint>

namespace vexalo {

// Event flags between sockets and the hub.
enum SocketEventFlags : uint32_t {
  kfRead = 1,
  kfWrite = 2,
  kfConnect = 4,
  kfClose = 8,
};

// Something with a descriptor that a PhysicalSocketServer waits on.
class Dispatcher {
 public:
  virtual ~Dispatcher() = default;
  virtual int GetDescriptor() = 0;
  // The epoll events wanted now; 0 keeps the descriptor out of the epoll set (a stream
  // socket that is not connected, or one whose close is pending, would otherwise report
  // hang-ups forever).
  virtual uint32_t GetEpollInterest() = 0;
  // What epoll reported for the descriptor.
  virtual void OnEpollEvents(uint32_t epoll_events) = 0;
  // True while a close has been seen but not yet reported.
  virtual bool IsClosePending() = 0;
  // Called before every wait round while the close is pending: delivers what is due (reads of
  // the remaining data, then the close). True when it delivered a read, so the round must not
  // block.
  virtual bool ServicePendingClose() = 0;
};

}  // namespace vexalo
