#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/signalthread.h"

namespace vexalo {

// Looks a host name up on a worker thread and reports on the thread that made it, so loop
// threads never block on DNS. Destroy with Destroy().
class AsyncResolver : public SignalThread {
 public:
  explicit AsyncResolver(std::string hostname);

  // Valid once WorkDone has been emitted: the ip in host order, or 0 when the lookup failed.
  uint32_t ip() const { return ip_; }
  const std::string& hostname() const { return hostname_; }

 protected:
  ~AsyncResolver() override = default;
  void DoWork() override;

 private:
  const std::string hostname_;
  std::atomic<uint32_t> ip_{0};
};

}  // namespace vexalo
