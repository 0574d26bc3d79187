#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/runtime/signalthread.h"

namespace vexalo {

// Looks a host name up on a worker thread and reports on the thread that made it, so loop
// threads never block on DNS. Destroy with Destroy().
class AsyncResolver : public SignalThread {
 public:
  explicit AsyncResolver(std::string hostname);

  // Valid once WorkDone has been emitted: the ip in host order, or 0 when the lookup failed.
  uint32_t ip() const { return ips_.empty() ? 0 : ips_.front(); }
  // Every address found (at most kMaxAddresses) and the resolver's error; valid after WorkDone.
  const std::vector<uint32_t>& ips() const { return ips_; }
  int error() const { return error_; }
  static constexpr size_t kMaxAddresses = 4;
  const std::string& hostname() const { return hostname_; }

 protected:
  ~AsyncResolver() override = default;
  void DoWork() override;

 private:
  const std::string hostname_;
  // Written by the worker before it reports, read on the owner thread after the report.
  std::vector<uint32_t> ips_;
  int error_ = 0;
};

}  // namespace vexalo
