#pragma once

namespace vexalo {

class EventSocket;

inline constexpr int kWaitForever = -1;

// What a thread's event queue waits in, and the factory of that thread's sockets. A wait
// returns when socket I/O was handled, when another thread woke it, or when it ran out.
class SocketHub {
 public:
  virtual ~SocketHub() = default;
  // A blocking socket of the given type (kStreamSocket, kDatagramSocket), or null.
  virtual EventSocket* CreateSocket(int type) {
    (void)type;
    return nullptr;
  }
  // A non-blocking socket whose events this hub delivers, or null.
  virtual EventSocket* CreateEventSocket(int type) {
    (void)type;
    return nullptr;
  }
  // Waits up to `ms` milliseconds (kWaitForever: no limit). With `process_io` false only the
  // wake-up is serviced and socket events are left for a later wait. False on a failed wait.
  virtual bool Wait(int ms, bool process_io) = 0;
  // Ends a wait in progress (or the next one) from any thread.
  virtual void WakeUp() = 0;
};

}  // namespace vexalo
