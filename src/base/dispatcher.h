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

// Something with a file descriptor that a PhysicalSocketServer waits on.
class Dispatcher {
 public:
  virtual ~Dispatcher() = default;
  // The kf* flags this dispatcher wants to hear about now.
  virtual uint32_t GetRequestedEvents() = 0;
  // Called before OnEvent with the same flags, to update state first.
  virtual void OnPreEvent(uint32_t flags) = 0;
  // The events that happened; `error` is the pending error of the descriptor, or 0.
  virtual void OnEvent(uint32_t flags, int error) = 0;
  virtual int GetDescriptor() = 0;
};

}  // namespace vexalo
