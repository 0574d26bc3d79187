#pragma once

namespace vexalo {

inline constexpr int kWaitForever = -1;

// What a thread's event queue waits in: it returns when socket I/O was handled, when another
// thread woke it, or when the wait ran out.
class SocketHub {
 public:
  virtual ~SocketHub() = default;
  // Waits up to `ms` milliseconds (kWaitForever: no limit). With `process_io` false only the
  // wake-up is serviced and socket events are left for a later wait. False on a failed wait.
  virtual bool Wait(int ms, bool process_io) = 0;
  // Ends a wait in progress (or the next one) from any thread.
  virtual void WakeUp() = 0;
};

}  // namespace vexalo
